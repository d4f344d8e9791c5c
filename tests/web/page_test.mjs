// The live page in real headless Chromium against the demo's servers: the picture appears, a new
// upload shows without reloading the page, and a failed reload keeps the last good picture.
// usage: node --test tests/web/page_test.mjs  (QOR_BUILD points at the build directory)

import { test } from "node:test";
import assert from "node:assert/strict";
import { spawn, execFileSync } from "node:child_process";
import { mkdtempSync, mkdirSync, copyFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";
import net from "node:net";
import { createRequire } from "node:module";

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, "..", "..");
const build = process.env.QOR_BUILD || join(repo, "build");
const require = createRequire(join(repo, "tests", "web", "node_modules", "x.js"));
const { chromium } = require("playwright-core");

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer().listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function waitForPort(port) {
  for (let i = 0; i < 100; i++) {
    const up = await new Promise((resolve) => {
      const socket = net.connect(port, "127.0.0.1", () => { socket.end(); resolve(true); });
      socket.on("error", () => resolve(false));
    });
    if (up) return;
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`nothing listens on ${port}`);
}

function jpeg(path, rgb) {
  execFileSync("/usr/bin/python3", ["-c",
    `from PIL import Image; Image.new("RGB", (423, 316), (${rgb})).save("${path}", quality=90)`]);
}

function upload(ftpPort, file) {
  execFileSync(join(build, "tools", "ftpput"), [`127.0.0.1:${ftpPort}`, "observer", "/homepage", file],
    { input: "demo-password\n" });
}

// A web host with the page and a dim live2.jpg in its /homepage, the demo's FTP and web servers
// on free ports, and a browser.
async function startSite() {
  const work = mkdtempSync(join(tmpdir(), "qor-web-"));
  const homepage = join(work, "host", "homepage");
  mkdirSync(homepage, { recursive: true });
  copyFileSync(join(repo, "web", "index.html"), join(homepage, "index.html"));
  jpeg(join(homepage, "live2.jpg"), "40, 40, 60");
  const [ftpPort, httpPort] = [await freePort(), await freePort()];
  const servers = spawn("/usr/bin/python3", [join(repo, "scripts", "demo_servers.py"), join(work, "host"),
    String(ftpPort), String(httpPort), "observer", "demo-password"], { stdio: "ignore" });
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox", "--disable-gpu"] });
  return { work, homepage, httpPort, servers, browser };
}

test("live page shows new pictures and keeps the last good one", { timeout: 120000 }, async () => {
  const work = mkdtempSync(join(tmpdir(), "qor-web-"));
  mkdirSync(join(work, "host", "homepage"), { recursive: true });
  copyFileSync(join(repo, "web", "index.html"), join(work, "host", "homepage", "index.html"));
  const [ftpPort, httpPort] = [await freePort(), await freePort()];
  const servers = spawn("/usr/bin/python3", [join(repo, "scripts", "demo_servers.py"), join(work, "host"),
    String(ftpPort), String(httpPort), "observer", "demo-password"], { stdio: "ignore" });
  const browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync"],
  });
  try {
    await waitForPort(ftpPort);
    await waitForPort(httpPort);
    jpeg(join(work, "red.jpg"), "200, 30, 30");
    jpeg(join(work, "blue.jpg"), "30, 30, 200");
    copyFileSync(join(work, "red.jpg"), join(work, "live2.jpg"));
    upload(ftpPort, join(work, "live2.jpg"));

    const page = await browser.newPage();
    await page.goto(`http://127.0.0.1:${httpPort}/index.html?every=1`);
    const colour = () => page.evaluate(() => {
      const img = document.getElementById("live");
      if (!img.complete || img.naturalWidth === 0) return null;
      const canvas = document.createElement("canvas");
      canvas.width = img.naturalWidth;
      canvas.height = img.naturalHeight;
      const context = canvas.getContext("2d");
      context.drawImage(img, 0, 0);
      const [r, , b] = context.getImageData(200, 150, 1, 1).data;
      return r > b ? "red" : "blue";
    });
    await page.waitForFunction(() => document.getElementById("live").naturalWidth === 423);
    assert.equal(await colour(), "red");
    assert.match(await page.textContent("#refreshed"), /Last refreshed/);
    const loadsBefore = Number(await page.getAttribute("#live", "data-loads"));

    copyFileSync(join(work, "blue.jpg"), join(work, "live2.jpg"));
    upload(ftpPort, join(work, "live2.jpg"));
    await page.waitForFunction(() => {
      const img = document.getElementById("live");
      const canvas = document.createElement("canvas");
      canvas.width = 423; canvas.height = 316;
      const context = canvas.getContext("2d");
      context.drawImage(img, 0, 0);
      const [r, , b] = context.getImageData(200, 150, 1, 1).data;
      return b > r;
    }, null, { timeout: 15000 });
    assert.ok(Number(await page.getAttribute("#live", "data-loads")) > loadsBefore, "reloaded without a page load");

    writeFileSync(join(work, "live2.jpg"), "this is not a picture");
    upload(ftpPort, join(work, "live2.jpg"));
    await page.waitForFunction(() => document.getElementById("problem").textContent.includes("last good"),
      null, { timeout: 15000 });
    assert.equal(await colour(), "blue", "the last good picture stays");
  } finally {
    await browser.close();
    servers.kill();
  }
});

// live2.json beside the picture: the page says how old the picture is, warns when the camera has
// sent nothing new, and when the station itself has gone quiet; without the file it shows just the
// picture, as it did for older stations.
test("live page tells the picture's age and what went quiet", { timeout: 120000 }, async () => {
  const { homepage, httpPort, servers, browser } = await startSite();
  const iso = (minutesAgo) => new Date(Date.now() - minutesAgo * 60000).toISOString();
  const report = (fields) => writeFileSync(join(homepage, "live2.json"), JSON.stringify({
    updated: iso(0), frame_changed: iso(3), stale: false, status: "Put bin OK", interval: 60, frame_time: null, ...fields,
  }));
  const shown = (page) => page.evaluate(() => ["age", "stale", "offline"].map((id) => {
    const element = document.getElementById(id);
    return element.hidden ? null : element.textContent;
  }));
  try {
    await waitForPort(httpPort);
    const page = await browser.newPage({ viewport: { width: 520, height: 560 } });
    await page.goto(`http://127.0.0.1:${httpPort}/index.html?every=1`);
    await page.waitForFunction(() => document.getElementById("live").naturalWidth === 423);
    assert.deepEqual(await shown(page), [null, null, null], "no live2.json: just the picture");

    report({});
    await page.waitForFunction(() => !document.getElementById("age").hidden, null, { timeout: 15000 });
    let [ageText, stale, offline] = await shown(page);
    assert.match(ageText, /^Picture from \d\d:\d\d \(3 min ago\)$/);
    assert.equal(stale, null);
    assert.equal(offline, null);

    report({ stale: true, frame_changed: iso(24) });
    await page.waitForFunction(() => !document.getElementById("stale").hidden, null, { timeout: 15000 });
    [ageText, stale, offline] = await shown(page);
    assert.match(stale, /^The camera has sent no new frame since \d\d:\d\d$/);
    assert.match(ageText, /\(24 min ago\)/);
    assert.equal(offline, null);
    if (process.env.QOR_PAGE_SCREENSHOT) await page.screenshot({ path: process.env.QOR_PAGE_SCREENSHOT });

    // A station whose clock is ahead is not "just now"; a time that is no text is no time.
    report({ updated: iso(-30), frame_changed: iso(-20) });
    await page.waitForFunction(() => /ahead/.test(document.getElementById("age").textContent), null, { timeout: 15000 });
    report({ updated: iso(0), frame_changed: 5 });
    await page.waitForFunction(() => /just now/.test(document.getElementById("age").textContent), null, { timeout: 15000 });
    report({ updated: 12345 });
    await page.waitForFunction(() => document.getElementById("age").hidden, null, { timeout: 15000 });

    // With --sky: the stars, the darkness, the clear share and the sectors' disc; values the
    // station could not measure are dashes.
    const sectors = Array.from({ length: 16 }, (_, i) => (i === 3 ? null : i < 12));
    report({ sky: { stars: 412, background: 1102.5, background_per_s: 220.5, sqm: 20.41, clear: 0.8, hot_pixels: 3, sectors } });
    await page.waitForFunction(() => !document.getElementById("sky").hidden, null, { timeout: 15000 });
    assert.equal(await page.textContent("#sky-values"), "Stars 412Sky 20.41 mag/arcsec\u00B2Clear 80 %");
    assert.deepEqual(await page.evaluate(() => ["clear", "cloudy", "unknown"].map(
      (kind) => document.querySelectorAll("#sectors path." + kind).length)), [11, 4, 1]);
    if (process.env.QOR_SKY_SCREENSHOT) await page.screenshot({ path: process.env.QOR_SKY_SCREENSHOT });
    report({ sky: { stars: null, background: null, background_per_s: null, sqm: null, clear: null, hot_pixels: 0,
      sectors: Array(16).fill(null) } });
    await page.waitForFunction(() => /Stars \u2013/.test(document.getElementById("sky-values").textContent), null,
      { timeout: 15000 });
    report({});
    await page.waitForFunction(() => document.getElementById("sky").hidden, null, { timeout: 15000 });

    report({ updated: iso(10), frame_changed: iso(12) });
    await page.waitForFunction(() => !document.getElementById("offline").hidden, null, { timeout: 15000 });
    [ageText, stale, offline] = await shown(page);
    assert.match(offline, /^The station has not reported since \d\d:\d\d$/);
    assert.equal(stale, null);
  } finally {
    await browser.close();
    servers.kill();
  }
});

// night/nights.json beside the page: the "Last night" section shows the newest night's timelapse
// (made by the station's own encoder, through frametool), keogram and star trails, and links to
// the earlier nights; the video plays. Without the file the section stays hidden.
test("live page shows last night and its video plays", { timeout: 120000 }, async () => {
  const { work, homepage, httpPort, servers, browser } = await startSite();
  const night = join(homepage, "night");
  mkdirSync(night, { recursive: true });
  try {
    const frames = [0, 1, 2, 3].map((i) => join(work, `f${i}.fts`));
    execFileSync("/usr/bin/python3", ["-c", `
import sys, numpy as np
from astropy.io import fits
for i, path in enumerate(sys.argv[1:]):
    fits.PrimaryHDU((np.random.default_rng(i).normal(1000, 20, (316, 423)) + 40 * i).astype(np.int16)).writeto(path)
`, ...frames]);
    execFileSync(join(build, "tools", "frametool"), [...frames, "--timelapse", join(night, "2026-12-07-timelapse.mp4")]);
    jpeg(join(night, "2026-12-07-keogram.jpg"), "20, 20, 80");
    jpeg(join(night, "2026-12-07-startrails.jpg"), "10, 10, 10");
    jpeg(join(night, "2026-12-07-chart.png"), "0, 0, 0");
    jpeg(join(night, "2026-12-07-events-221500.jpg"), "30, 30, 30");
    // One meteor, one aeroplane (not shown), and a picture name the station never gives.
    writeFileSync(join(night, "2026-12-07-events.json"), JSON.stringify([
      { class: "meteor", time: "2026-12-07T22:15:00+01:00", length: 120.4, peak_sigma: 12.2, picture: "events/221500.jpg" },
      { class: "aeroplane", time: "2026-12-07T22:30:00+01:00", length: 300, peak_sigma: 40, picture: "events/223000.jpg" },
      { class: "meteor", time: "2026-12-07T23:00:00+01:00", length: 40, peak_sigma: 6, picture: "../index.html" },
    ]));
    await waitForPort(httpPort);
    const page = await browser.newPage({ viewport: { width: 520, height: 900 } });
    await page.goto(`http://127.0.0.1:${httpPort}/index.html?every=1`);
    await page.waitForFunction(() => document.getElementById("live").naturalWidth === 423);
    assert.equal(await page.isHidden("#last-night"), true, "no nights.json: no section");

    writeFileSync(join(night, "nights.json"), JSON.stringify({ nights: [
      { date: "2026-12-07", pictures: 4, files: { keogram: "2026-12-07-keogram.jpg",
        startrails: "2026-12-07-startrails.jpg", timelapse: "2026-12-07-timelapse.mp4", chart: "2026-12-07-chart.png",
        events: "2026-12-07-events.json" } },
      { date: "2026-12-06", pictures: 300, files: { keogram: "2026-12-06-keogram.jpg",
        timelapse: "2026-12-06-timelapse.mp4" } },
    ] }));
    await page.waitForFunction(() => !document.getElementById("last-night").hidden, null, { timeout: 15000 });
    assert.equal(await page.textContent("#night-title"), "Last night (2026-12-07)");
    assert.match(await page.textContent("#earlier"), /2026-12-06/);
    await page.waitForFunction(() => document.getElementById("keogram").naturalWidth > 0, null, { timeout: 15000 });
    await page.waitForFunction(() => document.getElementById("chart").naturalWidth > 0, null, { timeout: 15000 });
    await page.waitForFunction(() => !document.getElementById("events").hidden, null, { timeout: 15000 });
    assert.equal(await page.locator("#meteors figure").count(), 2, "the meteors only");
    assert.equal(await page.locator("#meteors img").count(), 1, "no picture under a name the station never gives");
    await page.waitForFunction(() => document.querySelector("#meteors img").naturalWidth > 0, null, { timeout: 15000 });
    assert.match(await page.textContent("#meteors figcaption"), /120 px · 12 σ/);
    const played = await page.evaluate(async () => {
      const video = document.getElementById("timelapse");
      await video.play();
      await new Promise((resolve) => setTimeout(resolve, 300));
      return { time: video.currentTime, width: video.videoWidth, error: video.error && video.error.code };
    });
    assert.equal(played.error, null);
    assert.equal(played.width, 422);
    assert.ok(played.time > 0, "the video plays");
    if (process.env.QOR_NIGHT_SCREENSHOT) await page.screenshot({ path: process.env.QOR_NIGHT_SCREENSHOT, fullPage: true });
  } finally {
    await browser.close();
    servers.kill();
  }
});
