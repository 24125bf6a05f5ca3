// Heat maps of one screen: the gestures of a period (or an application version), rage taps
// marked, and two periods or two versions side by side. The choice is in the URL.
import {api, appSelect, el, header, pickApp, readState, showError, svg, writeState}
  from './console.js';
import {gestureMark} from './gestures.js';

const KINDS = ['tap', 'double_tap', 'swipe', 'pinch'];
const LEGEND = 86;  // the band under the picture of a drawn heat map, in its pixels

function choiceForm(state, apps, app, screens, versions) {
  const form = document.getElementById('choice');
  const kinds = (state.kinds || KINDS.join(',')).split(',');
  const date = (name, label) => el('label', {}, label,
    el('input', {type: 'date', name, value: state[name] || ''}));
  const versionSelect = (name, label) => el('label', {class: 'versions'}, label,
    el('select', {name}, versions.map((v) => el('option', {value: v, selected: state[name] === v}, v))));
  const compare = state.compare || '';
  form.replaceChildren(
    el('label', {}, 'Application', appSelect(apps, app, () => {
      writeState({app: form.elements.app.value}, true);
      load();
    })),
    el('label', {}, 'Screen', el('select', {name: 'screen'}, screens.map((s) =>
      el('option', {value: s.name, selected: s.name === state.screen},
         `${s.name}${s.web ? ' (web page)' : ''} · ${s.sessions}`)))),
    el('fieldset', {}, el('legend', {}, 'Gestures'), KINDS.map((k) => el('label', {},
      el('input', {type: 'checkbox', name: 'kind', value: k, checked: kinds.includes(k)}),
      ' ', k.replace('_', ' ')))),
    date('from', 'From'), date('to', 'To'),
    el('label', {}, 'Compare', el('select', {name: 'compare', onchange: () => form.requestSubmit()},
      [['', 'nothing'], ['period', 'with another period'], ['version', 'two versions']].map(
        ([v, t]) => el('option', {value: v, selected: compare === v}, t)))),
    compare === 'period' ? [date('from2', 'Other from'), date('to2', 'Other to')] : [],
    compare === 'version' ? [versionSelect('va', 'Version'), versionSelect('vb', 'Against')] : [],
    el('button', {type: 'submit', class: 'primary'}, 'Show'));
  form.onsubmit = (event) => {
    event.preventDefault();
    const data = new FormData(form);
    const next = {app: data.get('app'), screen: data.get('screen'),
                  kinds: data.getAll('kind').join(','), from: data.get('from'), to: data.get('to'),
                  compare: data.get('compare')};
    for (const name of ['from2', 'to2', 'va', 'vb']) next[name] = data.get(name) || '';
    writeState(next, true);
    load();
  };
}

// One heat map: the drawn picture, and over it each point and rage tap as marks one can point
// at (their counts as titles).
async function panel(title, params) {
  const query = new URLSearchParams(params);
  const heat = await api('/api/v1/heatmap?' + query);
  const figure = el('figure', {});
  const image = el('img', {src: heat.picture, alt: `heat map of ${heat.screen}`, class: 'heat'});
  figure.append(image);
  image.addEventListener('load', () => {
    if (!(heat.width > 0 && heat.height > 0)) return;
    const shownW = image.clientWidth;
    const shownH = ((image.naturalHeight - LEGEND) * shownW) / image.naturalWidth;
    const marks = svg('svg', {viewBox: `0 0 ${heat.width} ${heat.height}`, width: shownW,
                              height: shownH, preserveAspectRatio: 'none', class: 'points'});
    const size = heat.width / 390;
    for (const p of heat.points) {
      const g = svg('g', {class: 'point', dataset: {kind: p.kind, x: p.x, y: p.y, count: p.count}},
        svg('title', {}, `${p.count} ${p.kind.replace('_', ' ')}${p.count === 1 ? '' : 's'} at ${p.x}, ${p.y}`),
        svg('circle', {cx: p.x, cy: p.y, r: 10 * size, fill: 'transparent'}));
      marks.append(g);
    }
    for (const r of heat.rage_taps) {
      const g = gestureMark('tap', r.x, r.y, null, size, {rage: r.count});
      g.setAttribute('class', 'rage');
      g.append(svg('title', {}, `rage taps: ${r.count} times at ${r.x}, ${r.y}`));
      marks.append(g);
    }
    figure.append(marks);
  });
  const t = heat.totals;
  return el('section', {class: 'heat-panel', dataset: {sessions: heat.sessions, taps: t.tap}},
    el('h2', {}, title),
    el('p', {class: 'stats'}, `${heat.sessions} sessions: ${t.tap} taps, ${t.double_tap} double taps, ` +
       `${t.swipe} swipes, ${t.pinch} pinches`,
       t.rage_tap ? el('strong', {class: 'error'}, `, ${t.rage_tap} rage taps`) : ''),
    figure,
    heat.rage_taps.length ? el('ul', {class: 'rage-list'}, heat.rage_taps.map((r) =>
      el('li', {}, `Rage taps at ${r.x}, ${r.y}: ${r.count}`))) : '');
}

async function load() {
  const state = readState();
  const panels = document.getElementById('panels');
  try {
    const {apps, app} = await pickApp(state);
    if (!app) {
      panels.replaceChildren(el('p', {}, 'No application has sent anything yet.'));
      return;
    }
    const {screens, versions} = await api('/api/v1/screens?app=' + encodeURIComponent(app.id));
    if (!state.screen && screens.length) state.screen = screens[0].name;
    choiceForm(state, apps, app, screens, versions);
    if (!state.screen) {
      panels.replaceChildren(el('p', {}, 'No screen has been recorded yet.'));
      return;
    }
    const base = {app: app.id, screen: state.screen, kinds: state.kinds || KINDS.join(',')};
    const period = (from, to) => Object.assign({}, base, from ? {from} : {}, to ? {to} : {});
    const label = (from, to) => from || to ? `${from || 'start'} to ${to || 'now'}` : 'all time';
    const wanted = [];
    if (state.compare === 'version' && state.va && state.vb) {
      for (const v of [state.va, state.vb]) {
        wanted.push([`Version ${v}, ${label(state.from, state.to)}`,
                     Object.assign(period(state.from, state.to), {version: v})]);
      }
    } else {
      wanted.push([label(state.from, state.to), period(state.from, state.to)]);
      if (state.compare === 'period') {
        wanted.push([label(state.from2, state.to2), period(state.from2, state.to2)]);
      }
    }
    panels.replaceChildren(...await Promise.all(wanted.map(([t, p]) => panel(t, p))));
  } catch (error) {
    showError(panels, error);
  }
}

window.addEventListener('popstate', load);
header('heatmaps').then(load).catch((error) => showError(document.querySelector('main'), error));
