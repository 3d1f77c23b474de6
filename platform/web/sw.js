// The service worker that keeps the show for offline viewing: every file
// of one build (page, program, data, icons) in one cache named after the
// build, filled whole before the worker may serve, and every file served
// from it, so that a page never runs with a program of another build.
//
// scripts/web-offline.sh writes the build's identity and the SHA-256 of
// each file in place of the next line; the browser notices a new build by
// this file's changed bytes.
var BUILD = "", FILES = {};

var PREFIX = "lantern-";
var CACHE = PREFIX + BUILD;
var DIGEST_HEADER = "X-Lantern-Sha256";
var base = new URL("./", self.location.href);

function hex(buffer) {
  return Array.prototype.map
    .call(new Uint8Array(buffer), function (byte) {
      return (byte < 16 ? "0" : "") + byte.toString(16);
    })
    .join("");
}

// The response as the cache keeps it, when its bytes are the ones the
// build listed; null otherwise (missing, or from another build).
function verified(response, sha256) {
  if (!response || !response.ok) return Promise.resolve(null);
  return response.arrayBuffer().then(function (bytes) {
    return crypto.subtle.digest("SHA-256", bytes).then(function (digest) {
      if (hex(digest) !== sha256) return null;
      var headers = new Headers();
      headers.set("Content-Type", response.headers.get("Content-Type") || "application/octet-stream");
      headers.set(DIGEST_HEADER, sha256);
      return new Response(bytes, { status: 200, headers: headers });
    });
  });
}

// One file into the new cache: from an older build's cache when it holds
// the same bytes (the data rarely change), else from the network, first
// through the browser's HTTP cache and, when that held other bytes, past
// it. A file that matches neither way fails the whole install.
function fill(cache, name) {
  var url = new URL(name, base).href;
  var sha256 = FILES[name];
  return caches
    .match(url)
    .then(function (kept) {
      if (kept && kept.headers.get(DIGEST_HEADER) === sha256) return kept;
      return fetch(url)
        .then(function (response) {
          return verified(response, sha256);
        })
        .then(function (response) {
          return response || fetch(url, { cache: "reload" }).then(function (again) {
            return verified(again, sha256);
          });
        });
    })
    .then(function (response) {
      if (!response) throw new Error(name + " is not the file of build " + BUILD);
      return cache.put(url, response);
    });
}

self.addEventListener("install", function (event) {
  event.waitUntil(
    caches.open(CACHE).then(function (cache) {
      return Promise.all(
        Object.keys(FILES).map(function (name) {
          return fill(cache, name);
        })
      ).catch(function (error) {
        // Nothing half-filled stays behind; the worker is not used.
        return caches.delete(CACHE).then(function () {
          throw error;
        });
      });
    })
  );
});

// The new build serves once no page of the old one is open (the browser
// activates a waiting worker only then, or on the hand-over below), so the
// old cache can go.
self.addEventListener("activate", function (event) {
  event.waitUntil(
    caches.keys().then(function (names) {
      return Promise.all(
        names
          .filter(function (name) {
            return name.indexOf(PREFIX) === 0 && name !== CACHE;
          })
          .map(function (name) {
            return caches.delete(name);
          })
      );
    })
  );
});

// A new build, kept whole while a page of this one played, takes over at
// the next load of the page when no other page of the show is open: the
// new worker is asked first, and once it has agreed that load gets an
// empty page that loads again at once, from the new build. This worker
// serves no page of its own build after that, since the new worker would
// hand such a page, still loading, files of the new build. With another
// page open (it may be loading still) the new build waits until every page
// is closed, as browsers have new workers do.
var handedOverAt = -Infinity;
var ASK_MS = 3000;

function handOver(request) {
  if (request.mode !== "navigate") return Promise.resolve(false);
  // The new worker may be a moment from serving.
  if (Date.now() - handedOverAt < 10000) return Promise.resolve(true);
  var waiting = self.registration.waiting;
  if (!waiting) return Promise.resolve(false);
  return self.clients
    .matchAll({ type: "window", includeUncontrolled: true })
    .then(function (open) {
      if (open.length > 1) return false;
      return new Promise(function (resolve) {
        var channel = new MessageChannel();
        channel.port1.onmessage = function (reply) {
          resolve(reply.data === "taken over");
        };
        var ids = open.map(function (client) {
          return client.id;
        });
        waiting.postMessage({ lantern: "take over", open: ids, at: Date.now() }, [channel.port2]);
        setTimeout(resolve, ASK_MS, false);
      });
    })
    .then(function (taken) {
      if (taken) handedOverAt = Date.now();
      return taken;
    });
}

// The new worker, asked to take over: agrees when no page has opened since
// the old one looked, and the old one still waits for the answer.
self.addEventListener("message", function (event) {
  var data = event.data || {};
  if (data.lantern !== "take over" || !event.ports[0]) return;
  event.waitUntil(
    self.clients.matchAll({ type: "window", includeUncontrolled: true }).then(function (open) {
      var agreed =
        Date.now() - data.at < ASK_MS / 2 &&
        open.every(function (client) {
          return data.open.indexOf(client.id) >= 0;
        });
      event.ports[0].postMessage(agreed ? "taken over" : "refused");
      if (agreed) return self.skipWaiting();
    })
  );
});

var RELOAD = '<!doctype html><meta http-equiv="refresh" content="0">';

// The build's own files come from its cache; the page's address with any
// parameters is its index.html. Anything else goes to the network.
self.addEventListener("fetch", function (event) {
  var request = event.request;
  if (request.method !== "GET") return;
  var url = new URL(request.url);
  if (url.origin !== base.origin || url.pathname.indexOf(base.pathname) !== 0) return;
  var name = decodeURIComponent(url.pathname.slice(base.pathname.length)) || "index.html";
  if (!Object.prototype.hasOwnProperty.call(FILES, name)) return;
  event.respondWith(
    handOver(request).then(function (handed) {
      if (handed) return new Response(RELOAD, { headers: { "Content-Type": "text/html; charset=utf-8" } });
      return caches.match(new URL(name, base).href, { cacheName: CACHE }).then(function (response) {
        // Only a cache the browser has dropped lacks a file: then the network.
        return response || fetch(request);
      });
    })
  );
});
