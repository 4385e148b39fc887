// Reads a dropped file ahead of the converter, on a thread of its own: while
// the converter decodes one window, the next ones are read here. Windows go
// to the converter's worker and come back when used, so a few buffers serve
// a file of any size. The JavaScript side of the platform layer
// (src/web/morvane_files.js) asks for the reads.
'use strict';

let job = null;
const spare = [];

// A buffer lent to a read that was cancelled does not come back: a detached
// one is never used again.
const usable = (buffer) => buffer && buffer.byteLength > 0;

async function pump(present) {
  if (present.pumping) return;
  present.pumping = true;
  while (job === present && present.credits > 0 && !present.done) {
    let buffer = spare.pop();
    if (!usable(buffer) || buffer.byteLength !== present.window) buffer = new ArrayBuffer(present.window);
    let filled = 0;
    let done = false;
    try {
      while (filled < buffer.byteLength) {
        const answer = await present.reader.read(new Uint8Array(buffer, filled));
        if (answer.value) buffer = answer.value.buffer;
        if (answer.done) {
          done = true;
          break;
        }
        filled += answer.value.byteLength;
      }
    } catch (error) {
      postMessage({id: present.id, failure: error.name});
      present.done = true;
      break;
    }
    if (job !== present || !usable(buffer)) {
      if (usable(buffer)) spare.push(buffer);
      break;
    }
    present.credits--;
    present.done = done;
    postMessage({id: present.id, buffer: buffer, length: filled, done: done}, [buffer]);
  }
  present.pumping = false;
}

onmessage = (event) => {
  const message = event.data;
  if (usable(message.buffer)) spare.push(message.buffer);
  if (message.type === 'read') {
    if (job) job.reader.cancel().catch(() => {});
    job = {
      id: message.id, credits: message.credits, window: message.window, done: false, pumping: false,
      reader: message.file.slice(message.offset).stream().getReader({mode: 'byob'}),
    };
    pump(job);
  } else if (message.type === 'credit' && job && job.id === message.id) {
    job.credits++;
    pump(job);
  } else if (message.type === 'stop') {
    if (job) job.reader.cancel().catch(() => {});
    job = null;
  }
};
