// Hands the browser's downloads to Brindle through its native messaging
// host "org.brindle.host" (the program brindle-host). The host decides
// from Brindle's settings; whenever it does not answer "taken" (it is
// missing, fails, or says no) the browser keeps its download, so nothing
// is ever lost.
"use strict";

const HOST_NAME = "org.brindle.host";
const MENU_ID = "brindle-download-link";

const api = typeof browser !== "undefined" ? browser : chrome;
// Firefox alone has getBrowserInfo; Opera calls the host with the same
// chrome-extension:// origin as Chromium, so it names itself here.
const isFirefox = typeof api.runtime.getBrowserInfo === "function";
const family = isFirefox
  ? "firefox"
  : / OPR\//.test((globalThis.navigator && navigator.userAgent) || "")
    ? "opera"
    : "chromium";

function isHandOverScheme(url) {
  try {
    const scheme = new URL(url).protocol;
    return scheme === "http:" || scheme === "https:" || scheme === "ftp:";
  } catch (e) {
    return false;
  }
}

// The Referer the browser itself sends from a page to url under its default
// policy (strict-origin-when-cross-origin): the page's address, without
// fragment and login, to its own origin; only the origin to another; nothing
// from https to an address less safe.
function referrerFor(page, url) {
  try {
    const from = new URL(page);
    const to = new URL(url);
    if (from.protocol !== "http:" && from.protocol !== "https:") return "";
    if (from.origin === to.origin) {
      from.hash = "";
      from.username = "";
      from.password = "";
      return from.href;
    }
    return from.protocol === "https:" && to.protocol !== "https:" ? "" : from.origin + "/";
  } catch (e) {
    return "";
  }
}

function baseName(path) {
  return String(path || "").split(/[\\/]/).pop();
}

// The Cookie line the browser would send to url, from the download's own
// cookie store (Firefox containers have one each).
async function cookiesFor(url, storeId) {
  try {
    const details = { url };
    if (storeId) details.storeId = storeId;
    // Under first-party isolation Firefox refuses a query without it.
    if (isFirefox) details.firstPartyDomain = null;
    const cookies = await api.cookies.getAll(details);
    return cookies.map((cookie) => cookie.name + "=" + cookie.value).join("; ");
  } catch (e) {
    return "";
  }
}

// True only when the host answered that Brindle took the address.
async function askHost(message) {
  try {
    const answer = await api.runtime.sendNativeMessage(HOST_NAME, message);
    return Boolean(answer && answer.taken === true);
  } catch (e) {
    return false;
  }
}

// Downloads the browser started for a page: not those of private windows
// (they would leave a trace in Brindle's list), not this extension's own
// fallback downloads, and only addresses Brindle can fetch.
function isCandidate(item) {
  const url = item.finalUrl || item.url;
  return (
    !item.incognito &&
    item.byExtensionId !== api.runtime.id &&
    item.state !== "complete" &&
    item.state !== "interrupted" &&
    isHandOverScheme(url)
  );
}

async function offerDownload(item) {
  const url = item.finalUrl || item.url;
  return askHost({
    type: "download",
    url,
    browser: family,
    filename: baseName(item.filename),
    // Chromium reports the Referer it sent; Firefox the page's whole address,
    // before its policy cut it.
    referrer: isFirefox ? referrerFor(item.referrer, url) : item.referrer || "",
    cookies: await cookiesFor(url, item.cookieStoreId),
  });
}

async function cancelAndErase(id) {
  try {
    await api.downloads.cancel(id);
  } catch (e) {
    // Already gone: nothing to cancel.
  }
  if (isFirefox) {
    try {
      await api.downloads.removeFile(id);
    } catch (e) {
      // No partial file was written yet.
    }
  }
  try {
    await api.downloads.erase({ id });
  } catch (e) {
    // Not in the list any more.
  }
}

if (api.downloads.onDeterminingFilename) {
  // Chromium family: the download waits here until suggest() is called, so
  // a small file cannot finish while the host is asked.
  api.downloads.onDeterminingFilename.addListener((item, suggest) => {
    if (!isCandidate(item)) return false;
    offerDownload(item).then(async (taken) => {
      if (taken) await cancelAndErase(item.id);
      try {
        suggest();
      } catch (e) {
        // A cancelled download may no longer take a name.
      }
    });
    return true;
  });
} else {
  // Firefox has no such hold: cancel as soon as the host has taken it.
  api.downloads.onCreated.addListener((item) => {
    if (!isCandidate(item)) return;
    offerDownload(item).then((taken) => (taken ? cancelAndErase(item.id) : undefined));
  });
}

// Menus outlive the background page, so an old one is removed first.
async function createMenu() {
  try {
    await api.contextMenus.removeAll();
  } catch (e) {
    // There was none.
  }
  api.contextMenus.create({ id: MENU_ID, title: "Download with Brindle", contexts: ["link"] }, () => {
    // Reading lastError keeps a failure from being reported as unchecked.
    void api.runtime.lastError;
  });
}

api.runtime.onInstalled.addListener(createMenu);
api.runtime.onStartup.addListener(createMenu);

api.contextMenus.onClicked.addListener(async (info, tab) => {
  if (info.menuItemId !== MENU_ID || !isHandOverScheme(info.linkUrl)) return;
  // From a private window (or one the browser does not name) only the
  // address leaves the browser: its cookies and the page it is on would
  // outlive the window in Brindle's records.
  const isPrivate = !tab || tab.incognito !== false;
  const taken = await askHost({
    type: "link",
    url: info.linkUrl,
    browser: family,
    filename: "",
    referrer: isPrivate ? "" : referrerFor(info.pageUrl, info.linkUrl),
    cookies: isPrivate ? "" : await cookiesFor(info.linkUrl, tab.cookieStoreId),
  });
  // Without Brindle the user still gets the file, from the browser.
  if (!taken) {
    try {
      await api.downloads.download({ url: info.linkUrl });
    } catch (e) {
      // The browser refused it too; there is nothing more to try.
    }
  }
});
