// The system's Chromium with a profile on disk (the page's private storage
// of a throw-away profile would be held in memory), serving the built page on
// this machine; every request the page makes is logged. Downloads nothing.
import {chromium} from 'playwright-core';
import {serve} from '../../web/serve.mjs';

export const kChromiumFlags = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

export async function launchPage(site, profile) {
  const server = await serve(site, 0);
  const origin = `http://127.0.0.1:${server.address().port}`;
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.MORVANE_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: kChromiumFlags,
    acceptDownloads: true,
  });
  const requests = [];
  context.on('request', (request) => requests.push(request.url()));
  const page = context.pages()[0] || await context.newPage();
  page.on('pageerror', (error) => console.error('page error:', error.message));
  await page.goto(origin + '/');
  return {
    context, page, origin, requests, server,
    close: async () => {
      await context.close();
      server.close();
    },
  };
}
