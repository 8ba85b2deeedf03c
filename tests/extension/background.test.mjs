// The extension's background script against a fake browser API: what it
// asks the host, when it cancels, and that the browser keeps its download
// whenever the host does not take it.
import { test } from "node:test";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import vm from "node:vm";

const source = readFileSync(new URL("../../extension/background.js", import.meta.url), "utf8");

function event() {
  const listeners = [];
  return { listeners, addListener: (fn) => listeners.push(fn) };
}

// A fake of the API the script uses. answer: what the host answers, or an
// Error to make the native call fail.
function fakeBrowser({ firefox = false, answer = { taken: true } } = {}) {
  const calls = [];
  const record = (name) => async (...args) => {
    calls.push([name, ...args]);
  };
  const api = {
    runtime: {
      id: "own-id",
      lastError: undefined,
      onInstalled: event(),
      onStartup: event(),
      sendNativeMessage: async (host, message) => {
        calls.push(["sendNativeMessage", host, message]);
        if (answer instanceof Error) throw answer;
        return answer;
      },
    },
    cookies: {
      getAll: async (details) => {
        calls.push(["cookies.getAll", details]);
        return [
          { name: "a", value: "1" },
          { name: "b", value: "2" },
        ];
      },
    },
    downloads: {
      onCreated: event(),
      cancel: record("cancel"),
      erase: record("erase"),
      removeFile: record("removeFile"),
      download: record("download"),
    },
    contextMenus: {
      onClicked: event(),
      removeAll: record("contextMenus.removeAll"),
      create: (properties) => calls.push(["contextMenus.create", properties]),
    },
  };
  if (firefox) {
    api.runtime.getBrowserInfo = async () => ({ name: "Firefox" });
  } else {
    api.downloads.onDeterminingFilename = event();
  }
  return { api, calls };
}

function load({ firefox = false, answer, userAgent = "Mozilla/5.0 Chrome/156.0" } = {}) {
  const fake = fakeBrowser({ firefox, answer });
  const context = { URL, console, navigator: { userAgent } };
  context[firefox ? "browser" : "chrome"] = fake.api;
  vm.runInNewContext(source, context);
  return fake;
}

const settle = () => new Promise((resolve) => setTimeout(resolve, 10));
const names = (calls) => calls.map((call) => call[0]);

const zip = {
  id: 7,
  url: "https://example.test/get?id=1",
  finalUrl: "https://cdn.example.test/files/setup.zip",
  filename: "setup.zip",
  referrer: "https://example.test/page",
  state: "in_progress",
  incognito: false,
};

test("a taken download is held, asked about, cancelled and erased (Chromium)", async () => {
  const { api, calls } = load();
  let suggested = 0;
  const held = api.downloads.onDeterminingFilename.listeners[0](zip, () => suggested++);
  assert.equal(held, true, "the download waits for the answer");
  assert.equal(suggested, 0);
  await settle();
  const ask = calls.find((call) => call[0] === "sendNativeMessage");
  assert.equal(ask[1], "org.brindle.host");
  assert.deepEqual({ ...ask[2] }, {
    type: "download",
    url: "https://cdn.example.test/files/setup.zip",
    browser: "chromium",
    filename: "setup.zip",
    referrer: "https://example.test/page",
    cookies: "a=1; b=2",
  });
  assert.equal(calls.find((call) => call[0] === "cookies.getAll")[1].url, zip.finalUrl);
  assert.deepEqual(names(calls).filter((name) => name === "cancel" || name === "erase"), ["cancel", "erase"]);
  assert.equal(suggested, 1, "the hold is released after the cancel");
});

for (const [what, answer] of [
  ["refuses", { taken: false, reason: "not in the list" }],
  ["fails", new Error("Specified native messaging host not found.")],
  ["answers nonsense", { taken: "yes" }],
]) {
  test(`the browser keeps its download when the host ${what}`, async () => {
    const { api, calls } = load({ answer });
    let suggested = 0;
    assert.equal(api.downloads.onDeterminingFilename.listeners[0](zip, () => suggested++), true);
    await settle();
    assert.ok(names(calls).includes("sendNativeMessage"));
    assert.ok(!names(calls).includes("cancel"));
    assert.ok(!names(calls).includes("erase"));
    assert.equal(suggested, 1);
  });
}

test("downloads Brindle cannot or should not take are not asked about", async () => {
  const cases = [
    { ...zip, finalUrl: "blob:https://example.test/1234" },
    { ...zip, finalUrl: "data:text/plain,hi" },
    { ...zip, finalUrl: "file:///etc/passwd" },
    { ...zip, incognito: true },
    { ...zip, byExtensionId: "own-id" },
    { ...zip, state: "complete" },
  ];
  for (const item of cases) {
    const { api, calls } = load();
    assert.equal(api.downloads.onDeterminingFilename.listeners[0](item, () => {}), false);
    await settle();
    assert.deepEqual(calls, [], JSON.stringify(item));
  }
});

test("Firefox cancels when the host answers, removes the partial file and names itself", async () => {
  const { api, calls } = load({ firefox: true });
  api.downloads.onCreated.listeners[0]({
    ...zip,
    finalUrl: undefined,
    url: "ftp://example.test/pub/a.tar.gz",
    filename: "/home/user/Downloads/a.tar.gz",
    cookieStoreId: "firefox-container-1",
  });
  await settle();
  const ask = calls.find((call) => call[0] === "sendNativeMessage")[2];
  assert.equal(ask.browser, "firefox");
  assert.equal(ask.url, "ftp://example.test/pub/a.tar.gz");
  assert.equal(ask.filename, "a.tar.gz");
  const cookieQuery = calls.find((call) => call[0] === "cookies.getAll")[1];
  assert.equal(cookieQuery.storeId, "firefox-container-1");
  assert.equal(cookieQuery.firstPartyDomain, null);
  assert.deepEqual(names(calls).slice(-3), ["cancel", "removeFile", "erase"]);
});

// Firefox reports a download's page, and the link menu gives the page,
// before the page's referrer policy is applied; Chromium reports the Referer
// it sent.
test("the referrer handed over is the one the browser sends", async () => {
  for (const [how, page, url, sent] of [
    ["firefox", "https://example.test/dir/page?q=1#top", "https://example.test/a.zip", "https://example.test/dir/page?q=1"],
    ["firefox", "https://user:pw@example.test/page?token=1", "https://cdn.test/a.zip", "https://example.test/"],
    ["firefox", "https://example.test/page", "http://cdn.test/a.zip", ""],
    ["firefox", "https://example.test/page", "ftp://example.test/a.zip", ""],
    ["firefox", undefined, "https://example.test/a.zip", ""],
    ["chromium", "https://example.test/page?q=1", "https://cdn.test/a.zip", "https://example.test/page?q=1"],
    ["menu", "https://example.test/page?token=1", "https://cdn.test/a.pdf", "https://example.test/"],
    ["menu", "file:///home/user/page.html", "https://cdn.test/a.pdf", ""],
  ]) {
    const { api, calls } = load({ firefox: how === "firefox" });
    const item = { ...zip, url, finalUrl: url, referrer: page };
    if (how === "firefox") api.downloads.onCreated.listeners[0](item);
    else if (how === "chromium") api.downloads.onDeterminingFilename.listeners[0](item, () => {});
    else
      await api.contextMenus.onClicked.listeners[0](
        { menuItemId: "brindle-download-link", linkUrl: url, pageUrl: page },
        { id: 1, incognito: false },
      );
    await settle();
    assert.equal(calls.find((call) => call[0] === "sendNativeMessage")[2].referrer, sent, `${how}: ${page} -> ${url}`);
  }
});

test("Opera names itself, since its origin looks like Chromium's", async () => {
  const { api, calls } = load({ userAgent: "Mozilla/5.0 Chrome/140.0 Safari/537.36 OPR/124.0" });
  api.downloads.onDeterminingFilename.listeners[0](zip, () => {});
  await settle();
  assert.equal(calls.find((call) => call[0] === "sendNativeMessage")[2].browser, "opera");
});

test("the link menu hands the link over, and falls back to the browser when Brindle is missing", async () => {
  for (const [answer, fallback] of [
    [{ taken: true }, false],
    [new Error("host not found"), true],
  ]) {
    const { api, calls } = load({ answer });
    api.runtime.onInstalled.listeners[0]();
    await settle();
    const menu = calls.find((call) => call[0] === "contextMenus.create")[1];
    assert.equal(menu.title, "Download with Brindle");
    assert.deepEqual([...menu.contexts], ["link"]);
    await api.contextMenus.onClicked.listeners[0](
      { menuItemId: menu.id, linkUrl: "https://example.test/a.pdf", pageUrl: "https://example.test/" },
      { id: 1, incognito: false },
    );
    const ask = calls.find((call) => call[0] === "sendNativeMessage")[2];
    assert.equal(ask.type, "link");
    assert.equal(ask.referrer, "https://example.test/");
    assert.equal(ask.cookies, "a=1; b=2");
    assert.equal(names(calls).includes("download"), fallback);
  }
  const { api, calls } = load();
  await api.contextMenus.onClicked.listeners[0]({ menuItemId: "brindle-download-link", linkUrl: "mailto:a@b" }, {});
  assert.deepEqual(calls, []);
});

test("from a private window the link menu hands over the address only", async () => {
  for (const [firefox, tab] of [
    [false, { id: 1, incognito: true }],
    [true, { id: 1, incognito: true, cookieStoreId: "firefox-private" }],
    [false, undefined],
  ]) {
    const { api, calls } = load({ firefox });
    await api.contextMenus.onClicked.listeners[0](
      { menuItemId: "brindle-download-link", linkUrl: "https://example.test/a.pdf", pageUrl: "https://example.test/" },
      tab,
    );
    assert.deepEqual({ ...calls.find((call) => call[0] === "sendNativeMessage")[2] }, {
      type: "link",
      url: "https://example.test/a.pdf",
      browser: firefox ? "firefox" : "chromium",
      filename: "",
      referrer: "",
      cookies: "",
    });
    assert.ok(!names(calls).includes("cookies.getAll"), "the private window's cookies are not even read");
  }
});
