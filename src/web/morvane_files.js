// The browser's side of the platform layer (src/core/platform_web.cpp): the
// files the user dropped, read through FileReaderSync, and the page's private
// storage (the origin private file system), written through sync access
// handles. Opening, creating, renaming and removing there are asynchronous:
// those calls wait through Asyncify.
//
// The worker sets Module.morvaneFolder (the folder of paths without a
// leading slash) and Module.morvaneInputs (a Map from absolute path to File).

mergeInto(LibraryManager.library, {
  $MorvaneFiles__deps: ['$Asyncify'],
  $MorvaneFiles: {
    handles: [null],
    reader: null,
    root: null,

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

    // The folder holding the last name; made on the way when asked to.
    folder: async function(names, create) {
      if (!MorvaneFiles.root) MorvaneFiles.root = await navigator.storage.getDirectory();
      let folder = MorvaneFiles.root;
      for (const name of names.slice(0, -1)) folder = await folder.getDirectoryHandle(name, {create: create});
      return folder;
    },

    // What stands at the names: null, or ['file', handle] or ['folder', handle].
    entry: async function(names) {
      if (names.length === 0) return ['folder', await MorvaneFiles.folder([''], false)];
      let folder;
      try {
        folder = await MorvaneFiles.folder(names, false);
      } catch (error) {
        if (error.name === 'NotFoundError' || error.name === 'TypeMismatchError') return null;
        throw error;
      }
      const name = names[names.length - 1];
      try {
        return ['file', await folder.getFileHandle(name)];
      } catch (error) {
        if (error.name !== 'TypeMismatchError' && error.name !== 'NotFoundError') throw error;
      }
      try {
        return ['folder', await folder.getDirectoryHandle(name)];
      } catch (error) {
        if (error.name === 'TypeMismatchError' || error.name === 'NotFoundError') return null;
        throw error;
      }
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
    return Asyncify.handleAsync(async () => {
      try {
        const found = await MorvaneFiles.entry(names);
        if (!found) return -{{{ cDefine('ENOENT') }}};
        if (found[0] === 'folder') return -{{{ cDefine('EISDIR') }}};
        const access = await found[1].createSyncAccessHandle({mode: 'read-only'});
        {{{ makeSetValue('sizePtr', 0, 'access.getSize()', 'double') }}};
        return MorvaneFiles.add({access: access});
      } catch (error) {
        return -MorvaneFiles.errno(error);
      }
    });
  },

  morvane_create__deps: ['$MorvaneFiles'],
  morvane_create: function(pathPtr) {
    const names = MorvaneFiles.names(pathPtr);
    return Asyncify.handleAsync(async () => {
      try {
        if (MorvaneFiles.dropped(names) || await MorvaneFiles.entry(names)) return -{{{ cDefine('EEXIST') }}};
        const folder = await MorvaneFiles.folder(names, false);
        const file = await folder.getFileHandle(names[names.length - 1], {create: true});
        return MorvaneFiles.add({access: await file.createSyncAccessHandle()});
      } catch (error) {
        return -MorvaneFiles.errno(error);
      }
    });
  },

  morvane_is_dropped__deps: ['$MorvaneFiles'],
  morvane_is_dropped: function(handle) { return MorvaneFiles.handles[handle].file ? 1 : 0; },

  morvane_read__deps: ['$MorvaneFiles'],
  morvane_read: function(handle, destination, count, offset) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry) return -{{{ cDefine('EBADF') }}};
    try {
      if (entry.access) return entry.access.read(HEAPU8.subarray(destination, destination + count), {at: offset});
      if (!MorvaneFiles.reader) MorvaneFiles.reader = new FileReaderSync();
      const bytes = MorvaneFiles.reader.readAsArrayBuffer(entry.file.slice(offset, offset + count));
      HEAPU8.set(new Uint8Array(bytes), destination);
      return bytes.byteLength;
    } catch (error) {
      return -MorvaneFiles.errno(error);
    }
  },

  morvane_write__deps: ['$MorvaneFiles'],
  morvane_write: function(handle, source, count, offset) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry || !entry.access) return -{{{ cDefine('EBADF') }}};
    try {
      return entry.access.write(HEAPU8.subarray(source, source + count), {at: offset});
    } catch (error) {
      return -MorvaneFiles.errno(error);
    }
  },

  morvane_size__deps: ['$MorvaneFiles'],
  morvane_size: function(handle) {
    const entry = MorvaneFiles.handles[handle];
    if (!entry) return -1;
    return entry.access ? entry.access.getSize() : entry.file.size;
  },

  morvane_flush__deps: ['$MorvaneFiles'],
  morvane_flush: function(handle) {
    const entry = MorvaneFiles.handles[handle];
    try {
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
    try {
      if (entry.access) entry.access.close();
      return 0;
    } catch (error) {
      return -MorvaneFiles.errno(error);
    }
  },

  morvane_kind_of__deps: ['$MorvaneFiles'],
  morvane_kind_of: function(pathPtr, sizePtr) {
    const names = MorvaneFiles.names(pathPtr);
    const file = MorvaneFiles.dropped(names);
    if (file) {
      {{{ makeSetValue('sizePtr', 0, 'file.size', 'double') }}};
      return 1;
    }
    return Asyncify.handleAsync(async () => {
      try {
        const found = await MorvaneFiles.entry(names);
        if (!found) return 0;
        if (found[0] === 'folder') return 2;
        let size = 0;
        try {
          size = (await found[1].getFile()).size;
        } catch (error) {
          // A file being written is locked; its size is not asked for then.
        }
        {{{ makeSetValue('sizePtr', 0, 'size', 'double') }}};
        return 1;
      } catch (error) {
        return -MorvaneFiles.errno(error);
      }
    });
  },

  morvane_rename__deps: ['$MorvaneFiles'],
  morvane_rename: function(fromPtr, toPtr) {
    const from = MorvaneFiles.names(fromPtr);
    const to = MorvaneFiles.names(toPtr);
    return Asyncify.handleAsync(async () => {
      try {
        const source = await MorvaneFiles.entry(from);
        if (!source || source[0] !== 'file') return -{{{ cDefine('ENOENT') }}};
        if (MorvaneFiles.dropped(to)) return -{{{ cDefine('EACCES') }}};
        const target = await MorvaneFiles.entry(to);
        if (target && target[0] === 'folder') return -{{{ cDefine('EISDIR') }}};
        const folder = await MorvaneFiles.folder(to, false);
        // The storage moves a file onto a free name only.
        if (target) await folder.removeEntry(to[to.length - 1]);
        await source[1].move(folder, to[to.length - 1]);
        return 0;
      } catch (error) {
        return -MorvaneFiles.errno(error);
      }
    });
  },

  morvane_remove__deps: ['$MorvaneFiles'],
  morvane_remove: function(pathPtr) {
    const names = MorvaneFiles.names(pathPtr);
    return Asyncify.handleAsync(async () => {
      try {
        const folder = await MorvaneFiles.folder(names, false);
        await folder.removeEntry(names[names.length - 1]);
        return 0;
      } catch (error) {
        return -MorvaneFiles.errno(error);
      }
    });
  },

  morvane_make_folders__deps: ['$MorvaneFiles'],
  morvane_make_folders: function(pathPtr) {
    const names = MorvaneFiles.names(pathPtr);
    return Asyncify.handleAsync(async () => {
      try {
        await MorvaneFiles.folder(names.concat(['']), true);
        return 0;
      } catch (error) {
        return -MorvaneFiles.errno(error);
      }
    });
  },
});
