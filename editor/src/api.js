// The page's only way to the module: every value, pixel and curve sample comes from `vantrel serve`.

// One id per tab, so that a newer render of the same job cancels this tab's older one and no other's.
export const client =
  typeof crypto !== 'undefined' && crypto.randomUUID
    ? crypto.randomUUID()
    : `tab-${Date.now()}-${Math.random().toString(36).slice(2)}`;

// The server's secret, from the address it printed (`?token=`), kept in this tab's session storage and
// taken out of the address. Every request of the interface carries it in a header: a cookie would be
// sent by the browser to a server on any other port of the machine, and session storage is this
// origin's alone, port included.
const SECRET_KEY = 'vantrel-secret';
const secret = (() => {
  if (typeof window === 'undefined') return '';
  const query = new URLSearchParams(window.location.search);
  const given = query.get('token');
  if (given !== null) {
    sessionStorage.setItem(SECRET_KEY, given);
    query.delete('token');
    const rest = query.toString();
    const { pathname, hash } = window.location;
    window.history.replaceState(window.history.state, '', pathname + (rest ? `?${rest}` : '') + hash);
  }
  return sessionStorage.getItem(SECRET_KEY) ?? '';
})();
const withSecret = (headers = {}) => ({ ...headers, 'X-Vantrel-Token': secret });

// An error the server answered: its message, and the parts it keeps apart (its kind and code, the JSON
// Pointer of the value of the scene it concerns when the loader named one, what was expected, what was
// found and what the message notes after that). `cancelled` is the page's own: a request it gave up,
// which the server never answered as an error.
export class ApiError extends Error {
  constructor(status, message, details = {}, { cancelled = false } = {}) {
    super(message);
    this.status = status;
    this.pointer = details.pointer ?? null;
    this.kind = details.kind ?? null;
    this.code = details.code ?? null;
    this.expected = details.expected ?? null;
    this.found = details.found ?? null;
    this.note = details.note ?? null;
    // A render or value replaced by a newer one of its job, or given up: nothing to show.
    this.cancelled = cancelled;
  }
  // 412: a save refused because the file changed since the revision it names (or is there already).
  get fileChanged() {
    return this.status === 412;
  }
  // 503: too many renders in flight; worth another try shortly.
  get busy() {
    return this.status === 503;
  }
}

const cancelled = () => new ApiError(0, 'cancelled', {}, { cancelled: true });
// 409: a preview a newer one of the same job replaced at the server; the status means nothing else.
const superseded = (error) => error?.status === 409;

async function answer(response) {
  if (response.ok) return response;
  let message = `${response.status} ${response.statusText}`;
  let details = {};
  try {
    const body = await response.json();
    if (typeof body.error === 'string') message = body.error;
    details = body;
  } catch {
    // Not JSON: the status line is the message.
  }
  throw new ApiError(response.status, message, details);
}

function post(url, body, signal) {
  return fetch(url, {
    method: 'POST',
    headers: withSecret({ 'Content-Type': 'application/json' }),
    body: JSON.stringify(body),
    signal,
  });
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Renders and values wait here for one of two places, so that however many of them run or hang, the
// browser keeps connections to the server (it has six) for saving, opening, checks, curves and
// gradients, which are sent at once. A newer request of a job replaces its older one: still waiting, it
// is dropped unsent; already sent, it is aborted, and the server ends the process it ran in. The
// preview goes first, then the value under the pointer, then the 3-D view's model and textures, then
// the thumbnails.
const PLACES = 2;
const waiting = [];
const running = new Set();
// The newest request of each job.
const latest = new Map();
const RANKS = { preview: 0, value: 1, model: 2, view: 2, relief: 2, globe: 2 };
const rank = (job) => RANKS[job] ?? 3;

function next() {
  while (running.size < PLACES && waiting.length > 0) {
    let best = 0;
    for (let i = 1; i < waiting.length; ++i) if (waiting[i].rank < waiting[best].rank) best = i;
    const entry = waiting.splice(best, 1)[0];
    running.add(entry);
    entry
      .start()
      .then(entry.resolve, (error) =>
        entry.reject(error?.name === 'AbortError' || superseded(error) ? cancelled() : error),
      )
      .finally(() => {
        running.delete(entry);
        next();
      });
  }
}

// Sends `url` with `body` when a place is free and answers what `read` makes of the response, read in
// that place. `signal` gives it up (a Stop). A 503 is tried again a few times, a little later each time.
function queued(url, body, signal, read) {
  const job = url === '/api/value' ? 'value' : body.job;
  return new Promise((resolve, reject) => {
    for (let i = waiting.length - 1; i >= 0; --i) {
      if (waiting[i].job === job) waiting.splice(i, 1)[0].reject(cancelled());
    }
    for (const entry of running) if (entry.job === job) entry.controller.abort();
    const controller = new AbortController();
    const entry = {
      job,
      rank: rank(job),
      controller,
      resolve,
      reject,
      async start() {
        for (let attempt = 0; ; ++attempt) {
          try {
            return await read(await answer(await post(url, { client, ...body }, controller.signal)));
          } catch (error) {
            // A 409 says a newer request of the job reached the server first. When this one is the
            // newest the page sent, the newer one is an older request that arrived late, on another
            // connection (one given up a moment after it was sent): this one is still wanted.
            const overtaken = superseded(error) && latest.get(job) === entry && !controller.signal.aborted;
            if (!(error instanceof ApiError) || !(error.busy || overtaken) || attempt >= 8) throw error;
            await pause(100 * (attempt + 1));
          }
        }
      },
    };
    if (signal) {
      if (signal.aborted) return reject(cancelled());
      signal.addEventListener(
        'abort',
        () => {
          const at = waiting.indexOf(entry);
          if (at >= 0) {
            waiting.splice(at, 1);
            reject(cancelled());
          } else controller.abort();
        },
        { once: true },
      );
    }
    latest.set(job, entry);
    waiting.push(entry);
    next();
  });
}

const json = (response) => response.json();

export async function getJson(url) {
  return json(await answer(await fetch(url, { headers: withSecret() })));
}

// The server's JSON answer; a value (`/api/value`) waits its turn with the renders.
export async function postJson(url, body, { signal } = {}) {
  if (url === '/api/value') return queued(url, body, signal, json);
  return json(await answer(await post(url, body, signal)));
}

// An image's object URL given up once what shows it has moved on: a moment later, so that a picture
// still loading it (the tiles' background, the globe's texture) finds it.
export const release = (url) => setTimeout(() => URL.revokeObjectURL(url), 3000);

// The binary glTF file of `model` ({shape} or {file}, as the server takes it), as an ArrayBuffer; it
// waits its turn with the renders, as the server reads it in a preview's process.
export const modelFile = (model, { signal } = {}) =>
  queued('/api/model', { model, job: 'model' }, signal, (response) => response.arrayBuffer());

// Renders to an object URL (the caller releases it); a replaced or given-up render is thrown as an
// ApiError whose `cancelled` is true.
export const renderImage = (request, { signal } = {}) =>
  queued('/api/render', request, signal, async (response) => URL.createObjectURL(await response.blob()));

export const checkScene = (scene) => postJson('/api/check', { scene });
