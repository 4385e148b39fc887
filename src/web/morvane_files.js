// The browser's side of the platform layer (src/core/platform_web.cpp): the
// files the user dropped, read through their byte streams, and the page's private
// storage (the origin private file system), written through sync access
// handles. Opening, creating, renaming and removing there are asynchronous:
// those calls wait through Asyncify. Each such call is a round trip to the
// browser's process, which a batch of many outputs pays for every one of
// them: the calls here take as few as the safe road allows.
//
// The worker sets Module.morvaneFolder (the folder of paths without a
// leading slash) and Module.morvaneInputs (a Map from absolute path to File).

mergeInto(LibraryManager.library, {
  $MorvaneFiles__deps: ['$Asyncify'],
  $MorvaneFiles__postset: 'MorvaneFiles.made = new Map(); Module.morvaneTimes = MorvaneFiles.times;',
  $MorvaneFiles: {
    handles: [null],
    root: null,
    // The time spent waiting for the browser's reads and writes and for its
    // storage's other calls, in ms, for the bench to tell where a
    // conversion's time goes.
    times: {read: 0, reads: 0, write: 0, writes: 0, storage: 0, storageCalls: 0},
    // A file being written asks the browser for room each time it grows past
    // what it has: room taken in large steps spares most of those round
    // trips. The file is cut to what was written when flushed or closed.
    kLeastRoom: 16 * 1024 * 1024,
    kMostRoom: 256 * 1024 * 1024,
    // The handles of the files made here, by path, until renamed or removed:
    // the rename needs no look-up then.
    made: null,
    // A dropped file is read ahead by the reader worker (web/site/reader.js,
    // Module.morvaneReader), which streams it from where the reads are, a
    // window at a time, a few windows ahead, on a thread of its own: the
    // reading of the next windows goes on while this one decodes. A read a
    // little further on takes the windows between; a move back or far ahead
    // starts the stream again there. The windows go back to the reader when
    // used, so a few buffers serve a file of any size.
    kWindow: 4 * 1024 * 1024,
    kWindowsAhead: 3,
    kReadThrough: 32 * 1024 * 1024,
    jobs: {},
    lastJob: 0,

    fromReader: function(event) {
      const message = event.data;
      const job = MorvaneFiles.jobs[message.id];
      if (!job) {
        if (message.buffer) Module.morvaneReader.postMessage({type: 'spare', buffer: message.buffer}, [message.buffer]);
        return;
      }
      if (job.waiter) {
        const waiter = job.waiter;
        job.waiter = null;
        waiter(message);
      } else {
        job.arrived.push(message);
      }
    },

    startReading: function(entry, offset) {
      MorvaneFiles.stopReading(entry);
      const reader = Module.morvaneReader;
      if (reader.onmessage !== MorvaneFiles.fromReader) reader.onmessage = MorvaneFiles.fromReader;
      const job = {id: ++MorvaneFiles.lastJob, next: offset, arrived: [], waiter: null, ended: false};
      MorvaneFiles.jobs[job.id] = job;
      entry.job = job;
      reader.postMessage({type: 'read', id: job.id, file: entry.file, offset: offset, window: MorvaneFiles.kWindow,
        credits: MorvaneFiles.kWindowsAhead});
    },

    stopReading: function(entry) {
      if (entry.window) MorvaneFiles.giveBack(entry, 'spare');
      if (!entry.job) return;
      delete MorvaneFiles.jobs[entry.job.id];
      for (const message of entry.job.arrived) {
        if (message.buffer) Module.morvaneReader.postMessage({type: 'spare', buffer: message.buffer}, [message.buffer]);
      }
      Module.morvaneReader.postMessage({type: 'stop'});
      entry.job = null;
    },

    giveBack: function(entry, type) {
      const buffer = entry.window.buffer;
      Module.morvaneReader.postMessage({type: type, id: entry.window.id, buffer: buffer}, [buffer]);
      entry.window = null;
    },

    // The read when the present window holds all of it (or it starts at the
    // end of the file): no wait then. -1 otherwise.
    readFromWindow: function(entry, destination, count, offset) {
      if (offset >= entry.file.size) return 0;
      const window = entry.window;
      if (!window || offset < window.start || offset + count > window.start + window.length) return -1;
      HEAPU8.set(new Uint8Array(window.buffer, offset - window.start, count), destination);
      return count;
    },

    readDropped: async function(entry, destination, count, offset) {
      let copied = 0;
      while (copied < count && offset + copied < entry.file.size) {
        const at = offset + copied;
        const window = entry.window;
        if (window && at >= window.start && at < window.start + window.length) {
          const take = Math.min(count - copied, window.start + window.length - at);
          HEAPU8.set(new Uint8Array(window.buffer, at - window.start, take), destination + copied);
          copied += take;
          continue;
        }
        if (!entry.job || at < entry.job.next - (window ? window.length : 0) ||
            at - entry.job.next > MorvaneFiles.kReadThrough) {
          MorvaneFiles.startReading(entry, at);
        }
        const job = entry.job;
        if (entry.window) MorvaneFiles.giveBack(entry, 'credit');
        if (job.ended) break;
        const message = job.arrived.length > 0 ? job.arrived.shift()
          : await new Promise((resolve) => { job.waiter = resolve; });
        if (message.failure) {
          MorvaneFiles.stopReading(entry);
          throw {name: message.failure};
        }
        entry.window = {id: job.id, buffer: message.buffer, start: job.next, length: message.length};
        job.next += message.length;
        job.ended = message.done || message.length === 0;
      }
      return copied;
    },

    // A call that waits for the storage, its wait counted; what the storage
    // refuses is answered as the negative errno the platform layer maps.
    waitFor: function(kind, call) {
      return Asyncify.handleAsync(async () => {
        const start = performance.now();
        try {
          return await call();
        } catch (error) {
          return -MorvaneFiles.errno(error);
        } finally {
          const ms = performance.now() - start;
          MorvaneFiles.times.storage += ms;
          MorvaneFiles.times.storageCalls++;
          MorvaneFiles.times[kind] = (MorvaneFiles.times[kind] || 0) + ms;
          MorvaneFiles.times[kind + 'Calls'] = (MorvaneFiles.times[kind + 'Calls'] || 0) + 1;
        }
      });
    },

    // The path's names from the storage's root, "." and ".." resolved.
    names: function(pathPtr) {
      let path = UTF8ToString(pathPtr);
      if (!path.startsWith('/')) path = (Module.morvaneFolder || '') + '/' + path;
      const names = [];
      for (const name of path.split('/')) {
        if (name === '' || name === '.') continue;
        if (name === '..') names.pop();
        else names.push(name);
      }
      return names;
    },
    absolute: function(names) { return '/' + names.join('/'); },
    dropped: function(names) {
      const inputs = Module.morvaneInputs;
      return inputs ? inputs.get(MorvaneFiles.absolute(names)) : undefined;
    },
    add: function(entry) {
      MorvaneFiles.handles.push(entry);
      return MorvaneFiles.handles.length - 1;
    },

    // The errno value of a failure of the storage.
    errno: function(error) {
      switch (error && error.name) {
        case 'NotFoundError': return {{{ cDefine('ENOENT') }}};
        case 'TypeMismatchError': return {{{ cDefine('ENOTDIR') }}};
        case 'NoModificationAllowedError': return {{{ cDefine('EBUSY') }}};
        case 'InvalidModificationError': return {{{ cDefine('EEXIST') }}};
        case 'QuotaExceededError': return {{{ cDefine('ENOSPC') }}};
        case 'NotAllowedError':
        case 'SecurityError': return {{{ cDefine('EACCES') }}};
        case 'TypeError': return {{{ cDefine('EINVAL') }}};
        default: return {{{ cDefine('EIO') }}};
      }
    },

    // The folder holding the last name; made on the way when asked to. The
    // folders found are kept: each step from the root is a call to the
    // browser, and a batch looks in the same folder for every output.
    folders: {},
    folder: async function(names, create) {
      if (!MorvaneFiles.root) MorvaneFiles.root = await navigator.storage.getDirectory();
      let folder = MorvaneFiles.root;
      let path = '';
      for (const name of names.slice(0, -1)) {
        path += '/' + name;
        if (!MorvaneFiles.folders[path]) MorvaneFiles.folders[path] = await folder.getDirectoryHandle(name, {create: create});
        folder = MorvaneFiles.folders[path];
      }
      return folder;
    },

    // What stands at the names: null, ['file', handle] or ['folder']. One
    // call: asked for a file, the storage says so when a folder stands there.
    entry: async function(names) {
      if (names.length === 0) return ['folder'];
      let folder;
      try {
        folder = await MorvaneFiles.folder(names, false);
      } catch (error) {
        if (error.name === 'NotFoundError' || error.name === 'TypeMismatchError') return null;
        throw error;
      }
      try {
        return ['file', await folder.getFileHandle(names[names.length - 1])];
      } catch (error) {
        if (error.name === 'TypeMismatchError') return ['folder'];
        if (error.name === 'NotFoundError') return null;
        throw error;
      }
    },

    // Room for a write that ends at `end`; without it (the storage's quota
    // may refuse) the writes go on as they would have.
    makeRoom: function(entry, end) {
      if (entry.noRoom) return;
      const room = end + Math.min(Math.max(end, MorvaneFiles.kLeastRoom), MorvaneFiles.kMostRoom);
      try {
        entry.access.truncate(room);
        entry.size = room;
      } catch (error) {
        entry.noRoom = true;
      }
    },

    // The file cut to what was written, when room was taken past it.
    cutToWritten: function(entry) {
      if (entry.size <= entry.end) return;
      entry.access.truncate(entry.end);
      entry.size = entry.end;
    },
  },

  morvane_open_read__deps: ['$MorvaneFiles'],
  morvane_open_read: function(pathPtr, sizePtr) {
    const names = MorvaneFiles.names(pathPtr);
    const file = MorvaneFiles.dropped(names);
    if (file) {
      {{{ makeSetValue('sizePtr', 0, 'file.size', 'double') }}};
      return MorvaneFiles.add({file: file});
    }
    return MorvaneFiles.waitFor('open_read', async () => {
      const found = await MorvaneFiles.entry(names);
      if (!found) return -{{{ cDefine('ENOENT') }}};
      if (found[0] === 'folder') return -{{{ cDefine('EISDIR') }}};
      const access = await found[1].createSyncAccessHandle({mode: 'read-only'});
      {{{ makeSetValue('sizePtr', 0, 'access.getSize()', 'double') }}};
      return MorvaneFiles.add({access: access});
    });
  },

  // A new file, never one that stood there before: the storage makes the
  // file or opens the one there, and the handle's lock (no one else has it
  // open) and its size (nothing in it) tell that nothing is lost by taking
  // it; a file with anything in it is left as it was. Two calls, with no gap
  // between a look and the creation.
  morvane_create__deps: ['$MorvaneFiles'],
  morvane_create: function(pathPtr) {
    const names = MorvaneFiles.names(pathPtr);
    if (MorvaneFiles.dropped(names)) return -{{{ cDefine('EEXIST') }}};
    return MorvaneFiles.waitFor('create', async () => {
      try {
        const folder = await MorvaneFiles.folder(names, false);
        let file;
        try {
          file = await folder.getFileHandle(names[names.length - 1], {create: true});
        } catch (error) {
          if (error.name === 'TypeMismatchError') return -{{{ cDefine('EEXIST') }}};
          throw error;
        }
        const access = await file.createSyncAccessHandle();
        if (access.getSize() > 0) {
          access.close();
          return -{{{ cDefine('EEXIST') }}};
        }
        MorvaneFiles.made.set(MorvaneFiles.absolute(names), file);
        // end: how far it was written; size: how long it is, its room too.
        return MorvaneFiles.add({access: access, end: 0, size: 0});
      } catch (error) {
        if (error.name === 'NoModificationAllowedError') return -{{{ cDefine('EEXIST') }}};
        throw error;
      }
    });
  },

  morvane_read__deps: ['$MorvaneFiles'],
  morvane_read: function(handle, destination, count, offset) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry) return -{{{ cDefine('EBADF') }}};
    if (entry.file) {
      // Not while Asyncify rewinds to a read that waited: that read takes its
      // answer from handleAsync.
      if (Asyncify.state === Asyncify.State.Normal) {
        const served = MorvaneFiles.readFromWindow(entry, destination, count, offset);
        if (served >= 0) return served;
      }
      return Asyncify.handleAsync(async () => {
        const start = performance.now();
        try {
          return await MorvaneFiles.readDropped(entry, destination, count, offset);
        } catch (error) {
          return -MorvaneFiles.errno(error);
        } finally {
          MorvaneFiles.times.read += performance.now() - start;
          MorvaneFiles.times.reads++;
        }
      });
    }
    try {
      return entry.access.read(HEAPU8.subarray(destination, destination + count), {at: offset});
    } catch (error) {
      return -MorvaneFiles.errno(error);
    }
  },

  morvane_write__deps: ['$MorvaneFiles'],
  morvane_write: function(handle, source, count, offset) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry || !entry.access) return -{{{ cDefine('EBADF') }}};
    const start = performance.now();
    try {
      const madeHere = entry.end !== undefined;
      if (madeHere && offset + count > entry.size) MorvaneFiles.makeRoom(entry, offset + count);
      const put = entry.access.write(HEAPU8.subarray(source, source + count), {at: offset});
      if (madeHere) {
        entry.end = Math.max(entry.end, offset + put);
        entry.size = Math.max(entry.size, entry.end);
      }
      return put;
    } catch (error) {
      return -MorvaneFiles.errno(error);
    } finally {
      MorvaneFiles.times.write += performance.now() - start;
      MorvaneFiles.times.writes++;
    }
  },

  morvane_size__deps: ['$MorvaneFiles'],
  morvane_size: function(handle) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry) return -1;
    if (entry.end !== undefined) return entry.end;
    return entry.access ? entry.access.getSize() : entry.file.size;
  },

  morvane_flush__deps: ['$MorvaneFiles'],
  morvane_flush: function(handle) {
    const entry = MorvaneFiles.handles[handle];
    try {
      if (entry && entry.end !== undefined) MorvaneFiles.cutToWritten(entry);
      if (entry && entry.access) entry.access.flush();
      return 0;
    } catch (error) {
      return -MorvaneFiles.errno(error);
    }
  },

  morvane_close__deps: ['$MorvaneFiles'],
  morvane_close: function(handle) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry) return -{{{ cDefine('EBADF') }}};
    MorvaneFiles.handles[handle] = null;
    while (MorvaneFiles.handles.length > 1 && !MorvaneFiles.handles[MorvaneFiles.handles.length - 1]) {
      MorvaneFiles.handles.pop();
    }
    const start = performance.now();
    try {
      if (entry.access) {
        try {
          if (entry.end !== undefined) MorvaneFiles.cutToWritten(entry);
        } finally {
          entry.access.close();
        }
      }
      if (entry.file) MorvaneFiles.stopReading(entry);
      return 0;
    } catch (error) {
      return -MorvaneFiles.errno(error);
    } finally {
      MorvaneFiles.times.close = (MorvaneFiles.times.close || 0) + performance.now() - start;
    }
  },

  morvane_kind_of__deps: ['$MorvaneFiles'],
  morvane_kind_of: function(pathPtr, sizePtr) {
    const names = MorvaneFiles.names(pathPtr);
    const file = MorvaneFiles.dropped(names);
    if (file) {
      if (sizePtr) {{{ makeSetValue('sizePtr', 0, 'file.size', 'double') }}};
      return 1;
    }
    return MorvaneFiles.waitFor('kind_of', async () => {
      const found = await MorvaneFiles.entry(names);
      if (!found) return 0;
      if (found[0] === 'folder') return 2;
      // The size is one more call, made only when it is asked for.
      if (!sizePtr) return 1;
      let size = 0;
      try {
        size = (await found[1].getFile()).size;
      } catch (error) {
        // A file being written is locked; its size is not asked for then.
      }
      {{{ makeSetValue('sizePtr', 0, 'size', 'double') }}};
      return 1;
    });
  },

  morvane_rename__deps: ['$MorvaneFiles'],
  morvane_rename: function(fromPtr, toPtr) {
    const from = MorvaneFiles.names(fromPtr);
    const to = MorvaneFiles.names(toPtr);
    if (MorvaneFiles.dropped(to)) return -{{{ cDefine('EACCES') }}};
    return MorvaneFiles.waitFor('rename', async () => {
      const fromPath = MorvaneFiles.absolute(from);
      let source = MorvaneFiles.made.get(fromPath);
      if (!source) {
        const found = await MorvaneFiles.entry(from);
        if (!found || found[0] !== 'file') return -{{{ cDefine('ENOENT') }}};
        source = found[1];
      }
      const folder = await MorvaneFiles.folder(to, false);
      const name = to[to.length - 1];
      // The move takes the place of a file at the name in one step, so the
      // earlier file stays whole until then. A folder there refuses it.
      try {
        await source.move(folder, name);
      } catch (error) {
        if (error.name !== 'InvalidModificationError') throw error;
        const target = await MorvaneFiles.entry(to);
        if (!target) throw error;
        if (target[0] === 'folder') return -{{{ cDefine('EISDIR') }}};
        // A browser that moves a file onto a free name only.
        await folder.removeEntry(name);
        await source.move(folder, name);
      }
      MorvaneFiles.made.delete(fromPath);
      return 0;
    });
  },

  morvane_remove__deps: ['$MorvaneFiles'],
  morvane_remove: function(pathPtr) {
    const names = MorvaneFiles.names(pathPtr);
    return MorvaneFiles.waitFor('remove', async () => {
      MorvaneFiles.made.delete(MorvaneFiles.absolute(names));
      const folder = await MorvaneFiles.folder(names, false);
      await folder.removeEntry(names[names.length - 1]);
      return 0;
    });
  },

  morvane_make_folders__deps: ['$MorvaneFiles'],
  morvane_make_folders: function(pathPtr) {
    const names = MorvaneFiles.names(pathPtr);
    return MorvaneFiles.waitFor('make_folders', async () => {
      await MorvaneFiles.folder(names.concat(['']), true);
      return 0;
    });
  },
});
