// The page's only way to the module: every value, pixel and curve sample comes from `vantrel serve`.

// One id per tab, so that a newer render of the same job cancels this tab's older one and no other's.
export const client =
  typeof crypto !== 'undefined' && crypto.randomUUID
    ? crypto.randomUUID()
    : `tab-${Date.now()}-${Math.random().toString(36).slice(2)}`;

// An error the server answered, with the JSON path of the scene it concerns when the loader named one.
export class ApiError extends Error {
  constructor(status, message, path) {
    super(message);
    this.status = status;
    this.path = path ?? null;
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
  let path = null;
  try {
    const body = await response.json();
    if (typeof body.error === 'string') message = body.error;
    if (typeof body.path === 'string') path = body.path;
  } catch {
    // Not JSON: the status line is the message.
  }
  throw new ApiError(response.status, message, path);
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
