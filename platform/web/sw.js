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

// A page going away (a reload, or leaving it) hands over to a new build
// kept while it played, so that the next load plays the new one; but only
// when it is the last page open: another page of the old build, still
// loading, would be handed files of the new one.
self.addEventListener("message", function (event) {
  if (event.data !== "lantern: take over") return;
  var from = event.source && event.source.id;
  event.waitUntil(
    self.clients.matchAll({ type: "window", includeUncontrolled: true }).then(function (open) {
      var alone = open.every(function (client) {
        return client.id === from;
      });
      if (alone) return self.skipWaiting();
    })
  );
});

// The new build serves once no page of the old one is open (the browser
// activates a waiting worker only then, or on the hand-over above), so the
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
    caches.match(new URL(name, base).href, { cacheName: CACHE }).then(function (response) {
      // Only a cache the browser has dropped lacks a file: then the network.
      return response || fetch(request);
    })
  );
});
