// What every page of the console shares: the API (with the login's CSRF token on changes and
// a way to the login page when the session cookie is gone), building elements from text (never
// from markup, so recorded names cannot become markup), the page's state in its URL, and the
// header.

let meOnce = null;

export class ApiError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

export function toLogin() {
  const next = location.pathname + location.search;
  location.assign('/console/login?next=' + encodeURIComponent(next));
}

// Who is logged in ({user, role, csrf_token}); leads to the login page when nobody is.
export function me() {
  if (!meOnce) meOnce = api('/api/v1/me');
  return meOnce;
}

export async function api(path, options = {}) {
  const headers = Object.assign({}, options.headers || {});
  const method = options.method || 'GET';
  if (method !== 'GET' && !path.endsWith('/login')) {
    headers['X-Rivlo-CSRF'] = (await me()).csrf_token;
  }
  let body = options.body;
  if (body !== undefined && typeof body !== 'string') {
    body = JSON.stringify(body);
    headers['Content-Type'] = 'application/json';
  }
  const response = await fetch(path, {method, headers, body, credentials: 'same-origin'});
  const text = await response.text();
  let value = null;
  try {
    value = text ? JSON.parse(text) : null;
  } catch (e) {
    value = null;
  }
  if (response.status === 401 && !path.endsWith('/login')) {
    toLogin();
    throw new ApiError(401, 'not logged in');
  }
  if (!response.ok) {
    throw new ApiError(response.status, (value && value.error) || response.statusText);
  }
  return value;
}

// el('a', {href: '/x', class: 'y', onclick: f}, 'text', child...)
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name.startsWith('on') && typeof value === 'function') {
      node.addEventListener(name.slice(2), value);
    } else if (name === 'dataset') {
      Object.assign(node.dataset, value);
    } else if (name === 'style') {
      // Through the CSS object model: the pages' policy refuses style attributes as markup.
      node.style.cssText = String(value);
    } else {
      node.setAttribute(name, value === true ? '' : String(value));
    }
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

const SVG = 'http://www.w3.org/2000/svg';
export function svg(tag, attributes = {}, ...children) {
  const node = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null) continue;
    if (name === 'dataset') Object.assign(node.dataset, value);
    else node.setAttribute(name, String(value));
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

// The page's state: the query of its URL. `push` makes a step the back button returns to.
export function readState() {
  return Object.fromEntries(new URLSearchParams(location.search));
}

export function writeState(state, push = false) {
  const query = new URLSearchParams();
  for (const [name, value] of Object.entries(state)) {
    if (value !== undefined && value !== null && value !== '') query.set(name, value);
  }
  const text = query.toString();
  const url = location.pathname + (text ? '?' + text : '');
  if (url === location.pathname + location.search) return;
  if (push) history.pushState(null, '', url);
  else history.replaceState(null, '', url);
}

export function duration(seconds) {
  if (seconds === null || seconds === undefined || !isFinite(seconds)) return '';
  const s = Math.max(0, Math.round(seconds));
  const h = Math.floor(s / 3600), m = Math.floor((s % 3600) / 60), r = s % 60;
  const two = (n) => String(n).padStart(2, '0');
  return h ? `${h}:${two(m)}:${two(r)}` : `${m}:${two(r)}`;
}

export function clock(seconds) {
  return duration(Math.floor(seconds || 0));
}

// "2026-12-09T06:48:49Z" as "2026-12-09 06:48 UTC".
export function when(iso) {
  const m = /^(\d{4}-\d\d-\d\d)T(\d\d:\d\d)/.exec(iso || '');
  return m ? `${m[1]} ${m[2]} UTC` : (iso || '');
}

export function showError(where, error) {
  where.replaceChildren(el('p', {class: 'error', role: 'alert'}, String(error.message || error)));
}

// The bar at the top of every page but the login.
export async function header(active) {
  const who = await me();
  const bar = el('header', {class: 'bar'},
    el('a', {class: 'brand', href: '/console/'}, 'Rivlo console'),
    el('nav', {},
      el('a', {href: '/console/', class: active === 'sessions' ? 'active' : null}, 'Sessions'),
      el('a', {href: '/console/heatmaps', class: active === 'heatmaps' ? 'active' : null},
         'Heat maps')),
    el('span', {class: 'who'}, `${who.user} (${who.role})`),
    el('button', {type: 'button', class: 'link', id: 'logout', onclick: async () => {
      await api('/api/v1/logout', {method: 'POST'});
      location.assign('/console/login');
    }}, 'Log out'));
  document.body.prepend(bar);
  return who;
}

// The applications, and the one the state names (else the first).
export async function pickApp(state) {
  const {apps} = await api('/api/v1/apps');
  const app = apps.find((a) => a.id === state.app) || apps[0] || null;
  return {apps, app};
}

export function appSelect(apps, app, onchange) {
  return el('select', {name: 'app', onchange},
    apps.map((a) => el('option', {value: a.id, selected: app && a.id === app.id},
                       `${a.name} (${a.sessions})`)));
}
