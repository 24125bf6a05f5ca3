// The login form: the name and password go to the API as JSON; the answer sets the session
// cookie, and the page that sent here comes back.
import {api} from './console.js';

const form = document.getElementById('login');
const problem = document.getElementById('problem');

// Only a page of the console itself is a place to go back to.
function nextPage() {
  const next = new URLSearchParams(location.search).get('next') || '';
  return /^\/console\/[^/]/.test(next) || next === '/console/' ? next : '/console/';
}

form.addEventListener('submit', async (event) => {
  event.preventDefault();
  problem.hidden = true;
  const data = new FormData(form);
  try {
    await api('/api/v1/login', {method: 'POST',
                                body: {user: data.get('user'), password: data.get('password')}});
    location.assign(nextPage());
  } catch (error) {
    problem.textContent = error.status === 401 ? 'Wrong user name or password.' : error.message;
    problem.hidden = false;
  }
});
