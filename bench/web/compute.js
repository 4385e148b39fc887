// Runs one build of the converter with the storage answered at once
// (null_files.js) on a dropped file held whole in memory, a fresh instance
// each run, and tells each run's time and the sizes of the files it made.
'use strict';

onmessage = async (event) => {
  const {build, file, runs} = event.data;
  importScripts(build + '.js');
  const bytes = new Uint8Array(await file.arrayBuffer());
  const times = [];
  let files = null;
  for (let run = 0; run < runs; run++) {
    const module = await createMorvane({});
    module.morvaneFolder = '/bench';
    module.morvaneInputs = new Map([['/bench/' + file.name, bytes]]);
    const start = performance.now();
    const status = module.ccall('morvane_convert', 'number', ['string'], [file.name]);
    times.push(performance.now() - start);
    if (status !== 0) {
      postMessage({failure: `${build}: convert gave ${status}`});
      return;
    }
    files = [...module.morvaneNullFiles.files].map(([path, made]) => [path.slice('/bench/'.length), made.size]);
  }
  postMessage({times: times, files: files});
};
