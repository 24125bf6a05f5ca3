// The session list: filters, one page of sessions newest first, and paging by cursor. Every
// filter and the page are in the URL.
import {api, appSelect, duration, el, header, pickApp, readState, showError, when, writeState}
  from './console.js';

const FILTERS = ['app', 'screen', 'tag', 'crashed', 'from', 'to', 'min_duration'];

async function screensOf(app) {
  try {
    return (await api('/api/v1/screens?app=' + encodeURIComponent(app.id))).screens;
  } catch (e) {
    return [];
  }
}

function filterForm(state, apps, app, screens) {
  const form = document.getElementById('filters');
  const input = (name, label, attributes = {}) =>
    el('label', {}, label, el('input', Object.assign({name, value: state[name] || ''}, attributes)));
  form.replaceChildren(
    el('label', {}, 'Application', appSelect(apps, app, () => form.requestSubmit())),
    input('screen', 'Screen', {list: 'screens', placeholder: 'any'}),
    el('datalist', {id: 'screens'}, screens.map((s) => el('option', {value: s.name}))),
    input('tag', 'Tag', {placeholder: 'any'}),
    el('label', {}, 'Crashed',
       el('select', {name: 'crashed'},
          [['', 'any'], ['true', 'crashed'], ['false', 'not crashed']].map(
            ([v, t]) => el('option', {value: v, selected: (state.crashed || '') === v}, t)))),
    input('from', 'From', {type: 'date'}),
    input('to', 'To', {type: 'date'}),
    input('min_duration', 'At least (s)', {type: 'number', min: 0, step: 1}),
    el('button', {type: 'submit', class: 'primary'}, 'Filter'),
    el('button', {type: 'button', onclick: () => {
      writeState({app: app && app.id}, true);
      load();
    }}, 'Clear'));
  form.onsubmit = (event) => {
    event.preventDefault();
    const data = new FormData(form);
    const next = {};
    for (const name of FILTERS) next[name] = data.get(name) || '';
    writeState(next, true);
    load();
  };
}

function row(s) {
  const open = () => location.assign('/console/sessions/' + s.id);
  return el('tr', {class: 'session', dataset: {id: s.id}, onclick: open},
    el('td', {}, el('a', {href: '/console/sessions/' + s.id}, when(s.started_at))),
    el('td', {class: 'duration'}, duration(s.duration_s)),
    el('td', {}, s.user || ''),
    el('td', {class: 'screens'}, s.screens.map((name) => el('span', {class: 'badge'}, name))),
    el('td', {class: 'gestures'}, s.gestures),
    el('td', {}, s.tags.map((t) => el('span', {class: 'badge'}, t))),
    el('td', {}, s.crashed ? el('span', {class: 'badge crash', title: 'ended in a crash'}, 'crash') : '',
       s.movie ? el('span', {class: 'badge movie', title: 'has a screen movie'}, 'movie') : ''));
}

async function load() {
  const state = readState();
  const list = document.getElementById('list');
  const pager = document.getElementById('pager');
  try {
    const {apps, app} = await pickApp(state);
    if (!app) {
      list.replaceChildren(el('p', {}, 'No application has sent anything yet.'));
      return;
    }
    filterForm(state, apps, app, await screensOf(app));
    const query = new URLSearchParams({app: app.id, limit: 25});
    for (const name of FILTERS.slice(1).concat(['cursor'])) {
      if (state[name]) query.set(name, state[name]);
    }
    const page = await api('/api/v1/sessions?' + query);
    document.getElementById('summary').textContent =
      `${page.total} session${page.total === 1 ? '' : 's'}`;
    list.replaceChildren(el('table', {id: 'sessions'},
      el('thead', {}, el('tr', {}, ['Started', 'Length', 'User', 'Screens', 'Gestures', 'Tags', '']
                                     .map((h) => el('th', {}, h)))),
      el('tbody', {}, page.sessions.map(row))));
    // Earlier pages are the cursors that led here, kept in the URL.
    const back = state.back ? state.back.split(',') : [];
    pager.replaceChildren(
      el('button', {type: 'button', id: 'newer', disabled: !state.cursor, onclick: () => {
        const previous = back.pop();
        writeState(Object.assign({}, state, {cursor: previous === '-' ? '' : previous,
                                             back: back.join(',')}), true);
        load();
      }}, 'Newer'),
      el('button', {type: 'button', id: 'older', disabled: !page.next_cursor, onclick: () => {
        back.push(state.cursor || '-');
        writeState(Object.assign({}, state, {cursor: page.next_cursor, back: back.join(',')}), true);
        load();
      }}, 'Older'));
  } catch (error) {
    showError(list, error);
  }
}

window.addEventListener('popstate', load);
header('sessions').then(load).catch((error) => showError(document.querySelector('main'), error));
