// The platform layer's JavaScript side for measuring the converter's own
// computing in the browser (bench/web_convert.mjs): the same calls as
// src/web/morvane_files.js, all of them answered at once, without the
// browser's storage or reader. The dropped file is held whole in memory and
// each read is a copy from it, as the page's reads are copies from a window;
// what is written is counted and dropped, the files' names and sizes kept.
//
// Module.morvaneFolder is the folder of paths without a leading slash,
// Module.morvaneInputs a Map from absolute path to the file's bytes.

mergeInto(LibraryManager.library, {
  $NullFiles__postset: 'NullFiles.files = new Map(); Module.morvaneNullFiles = NullFiles;',
  $NullFiles: {
    handles: [null],
    files: null,  // path -> {size}: what was made, under its present name
    writes: 0,
    path: function(pathPtr) {
      const path = UTF8ToString(pathPtr);
      return path.startsWith('/') ? path : (Module.morvaneFolder || '') + '/' + path;
    },
    add: function(entry) {
      NullFiles.handles.push(entry);
      return NullFiles.handles.length - 1;
    },
  },

  morvane_open_read__deps: ['$NullFiles'],
  morvane_open_read: function(pathPtr, sizePtr) {
    const bytes = Module.morvaneInputs.get(NullFiles.path(pathPtr));
    if (!bytes) return -{{{ cDefine('ENOENT') }}};
    {{{ makeSetValue('sizePtr', 0, 'bytes.length', 'double') }}};
    return NullFiles.add({bytes: bytes});
  },

  morvane_create__deps: ['$NullFiles'],
  morvane_create: function(pathPtr) {
    const path = NullFiles.path(pathPtr);
    if (NullFiles.files.has(path) || Module.morvaneInputs.has(path)) return -{{{ cDefine('EEXIST') }}};
    const file = {size: 0};
    NullFiles.files.set(path, file);
    return NullFiles.add({file: file});
  },

  morvane_read__deps: ['$NullFiles'],
  morvane_read: function(handle, destination, count, offset) {
    const bytes = NullFiles.handles[handle].bytes;
    const end = Math.min(bytes.length, offset + count);
    if (end <= offset) return 0;
    HEAPU8.set(bytes.subarray(offset, end), destination);
    return end - offset;
  },

  morvane_write__deps: ['$NullFiles'],
  morvane_write: function(handle, source, count, offset) {
    const file = NullFiles.handles[handle].file;
    file.size = Math.max(file.size, offset + count);
    NullFiles.writes++;
    return count;
  },

  morvane_size__deps: ['$NullFiles'],
  morvane_size: function(handle) {
    const entry = NullFiles.handles[handle];
    return entry.bytes ? entry.bytes.length : entry.file.size;
  },

  morvane_flush: function(handle) { return 0; },

  morvane_close__deps: ['$NullFiles'],
  morvane_close: function(handle) {
    NullFiles.handles[handle] = null;
    return 0;
  },

  morvane_kind_of__deps: ['$NullFiles'],
  morvane_kind_of: function(pathPtr, sizePtr) {
    const path = NullFiles.path(pathPtr);
    const bytes = Module.morvaneInputs.get(path);
    const file = NullFiles.files.get(path);
    if (!bytes && !file) return 0;
    if (sizePtr) {{{ makeSetValue('sizePtr', 0, 'bytes ? bytes.length : file.size', 'double') }}};
    return 1;
  },

  morvane_rename__deps: ['$NullFiles'],
  morvane_rename: function(fromPtr, toPtr) {
    const from = NullFiles.path(fromPtr);
    const file = NullFiles.files.get(from);
    if (!file) return -{{{ cDefine('ENOENT') }}};
    NullFiles.files.delete(from);
    NullFiles.files.set(NullFiles.path(toPtr), file);
    return 0;
  },

  morvane_remove__deps: ['$NullFiles'],
  morvane_remove: function(pathPtr) {
    NullFiles.files.delete(NullFiles.path(pathPtr));
    return 0;
  },

  morvane_make_folders: function(pathPtr) { return 0; },
});
