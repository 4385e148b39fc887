// What the page's commands tell as they run (src/web/web_entries.cpp), handed
// to Module.morvaneReport(kind, facts), which the worker sets to post it to
// the page.

mergeInto(LibraryManager.library, {
  $MorvaneReport: function(kind, facts) {
    if (Module.morvaneReport) Module.morvaneReport(kind, facts);
  },

  morvane_report_wrote__deps: ['$MorvaneReport'],
  morvane_report_wrote: function(path) { MorvaneReport('wrote', {path: UTF8ToString(path)}); },

  morvane_report_problem__deps: ['$MorvaneReport'],
  morvane_report_problem: function(line) { MorvaneReport('problem', {line: UTF8ToString(line)}); },

  morvane_report_progress__deps: ['$MorvaneReport'],
  morvane_report_progress: function(done, total) { MorvaneReport('progress', {done: done, total: total}); },

  morvane_report_sound__deps: ['$MorvaneReport'],
  morvane_report_sound: function(path, rate, channels, frames, envelope, values) {
    MorvaneReport('sound', {
      path: UTF8ToString(path), rate: rate, channels: channels, frames: frames,
      envelope: HEAP16.slice(envelope >> 1, (envelope >> 1) + values),
    });
  },

  morvane_report_movie__deps: ['$MorvaneReport'],
  morvane_report_movie: function(path, codec, width, height, frames, durationMs, soundTracks) {
    MorvaneReport('movie', {
      path: UTF8ToString(path), codec: UTF8ToString(codec), width: width, height: height, frames: frames,
      durationMs: durationMs, soundTracks: soundTracks,
    });
  },

  morvane_report_movie_track__deps: ['$MorvaneReport'],
  morvane_report_movie_track: function(path, track, sound, rate, channels) {
    MorvaneReport('movie-track', {path: UTF8ToString(path), track: track, sound: sound, rate: rate, channels: channels});
  },

  morvane_report_movie_block__deps: ['$MorvaneReport'],
  morvane_report_movie_block: function(path, track, ms, key, offset, size) {
    MorvaneReport('movie-block', {path: UTF8ToString(path), track: track, ms: ms, key: key !== 0, offset: offset,
      size: size});
  },

  morvane_report_strip__deps: ['$MorvaneReport'],
  morvane_report_strip: function(shares, count) {
    MorvaneReport('strip', {shares: HEAPU8.slice(shares, shares + count)});
  },

  morvane_report_line__deps: ['$MorvaneReport'],
  morvane_report_line: function(line) { MorvaneReport('line', {line: UTF8ToString(line)}); },

  morvane_report_row__deps: ['$MorvaneReport'],
  morvane_report_row: function(caption, value) {
    MorvaneReport('row', {caption: UTF8ToString(caption), value: UTF8ToString(value)});
  },

  morvane_report_notice__deps: ['$MorvaneReport'],
  morvane_report_notice: function(text) { MorvaneReport('notice', {text: UTF8ToString(text)}); },
});
