// A small static server for the built page, on this machine only: the page's
// files with their types (WebAssembly's own included) and its content
// security policy. Prints the address it serves.
//
//   node web/serve.mjs FOLDER [PORT]     (PORT 0 takes any free one)
import {createServer} from 'node:http';
import {createReadStream, promises as fs} from 'node:fs';
import path from 'node:path';

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.webmanifest': 'application/manifest+json',
};
export const kPolicy = "default-src 'self'; script-src 'self' 'wasm-unsafe-eval'; worker-src 'self'; " +
  "connect-src 'self'; img-src 'self' data: blob:; media-src 'self' blob:; style-src 'self'; object-src 'none'; " +
  "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

export function serve(folder, port = 0) {
  const root = path.resolve(folder);
  const server = createServer(async (request, response) => {
    let name = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    if (name.endsWith('/')) name += 'index.html';
    const file = path.join(root, path.normalize(name));
    const type = kTypes[path.extname(file)];
    let info = null;
    if (file.startsWith(root + path.sep) && type) info = await fs.stat(file).catch(() => null);
    if (!info || !info.isFile() || (request.method !== 'GET' && request.method !== 'HEAD')) {
      response.writeHead(404, {'Content-Type': 'text/plain; charset=utf-8'}).end('not found\n');
      return;
    }
    response.writeHead(200, {
      'Content-Type': type,
      'Content-Length': info.size,
      'Content-Security-Policy': kPolicy,
      'X-Content-Type-Options': 'nosniff',
      'Cache-Control': 'no-cache',
    });
    if (request.method === 'HEAD') response.end();
    else createReadStream(file).pipe(response);
  });
  return new Promise((resolve) => server.listen(port, '127.0.0.1', () => resolve(server)));
}

if (import.meta.url === `file://${process.argv[1]}`) {
  const [folder, port] = process.argv.slice(2);
  if (!folder) {
    console.error('usage: node serve.mjs FOLDER [PORT]');
    process.exit(2);
  }
  const server = await serve(folder, Number(port || 8080));
  console.log(`Morvane's page: http://127.0.0.1:${server.address().port}/  (Ctrl+C ends)`);
}
