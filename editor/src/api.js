// The page's only way to the module: every value, pixel and curve sample comes from `vantrel serve`.

// One id per tab, so that a newer render of the same job cancels this tab's older one and no other's.
export const client =
  typeof crypto !== 'undefined' && crypto.randomUUID
    ? crypto.randomUUID()
    : `tab-${Date.now()}-${Math.random().toString(36).slice(2)}`;

// An error the server answered: its message, and the parts it keeps apart (its kind, the JSON Pointer of
// the value of the scene it concerns when the loader named one, what was expected and what was found).
export class ApiError extends Error {
  constructor(status, message, details = {}) {
    super(message);
    this.status = status;
    this.pointer = details.pointer ?? null;
    this.kind = details.kind ?? null;
    this.expected = details.expected ?? null;
    this.found = details.found ?? null;
  }
  // 409: a newer request of the same job replaced this one; nothing to show.
  get cancelled() {
    return this.status === 409;
  }
  // 503: too many renders in flight; worth another try shortly.
  get busy() {
    return this.status === 503;
  }
}

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

export async function getJson(url) {
  const response = await answer(await fetch(url));
  return response.json();
}

export async function postJson(url, body) {
  const response = await answer(await post(url, body));
  return response.json();
}

function post(url, body) {
  return fetch(url, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(body),
  });
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Renders to an object URL (the caller revokes it). A 503 is tried again a few times, a little later
// each time; a 409 is thrown as an ApiError whose `cancelled` is true.
export async function renderImage(request) {
  for (let attempt = 0; ; ++attempt) {
    try {
      const response = await answer(await post('/api/render', { client, ...request }));
      return URL.createObjectURL(await response.blob());
    } catch (error) {
      if (!(error instanceof ApiError) || !error.busy || attempt >= 8) throw error;
      await pause(100 * (attempt + 1));
    }
  }
}

export const checkScene = (scene) => postJson('/api/check', { scene });
