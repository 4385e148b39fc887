// The browser's encoders for the page's WebM (src/web/webcodecs_encoders.cpp):
// WebCodecs' VideoEncoder (VP9) and AudioEncoder (Opus). Each encoder is an
// id; its packets wait here until taken. A failed open gives minus the id,
// whose failure can still be read. Module.morvaneCancel, set by the worker,
// ends an encoding at its next call.

mergeInto(LibraryManager.library, {
  $MorvaneCodecs: {
    codecs: [null],
    add: function(codec) {
      codec.packets = [];
      codec.failure = '';
      MorvaneCodecs.codecs.push(codec);
      return MorvaneCodecs.codecs.length - 1;
    },
    output: function(codec) {
      return function(chunk, metadata) {
        const bytes = new Uint8Array(chunk.byteLength);
        chunk.copyTo(bytes);
        codec.packets.push({bytes: bytes, ms: chunk.timestamp / 1000, key: chunk.type === 'key'});
        if (metadata && metadata.decoderConfig && metadata.decoderConfig.description) {
          const description = metadata.decoderConfig.description;
          codec.head = new Uint8Array(description.buffer || description, description.byteOffset || 0,
            description.byteLength).slice();
        }
      };
    },
    failed: function(codec) {
      return function(error) { codec.failure = codec.failure || String(error && error.message || error); };
    },
    // Gives 0 when the codec is still well, -1 when not.
    state: function(codec) {
      if (Module.morvaneCancel) codec.failure = codec.failure || 'cancelled';
      return codec.failure ? -1 : 0;
    },
  },

  morvane_video_open__deps: ['$MorvaneCodecs'],
  morvane_video_open: function(width, height, quality) {
    const codec = {width: width, height: height, quality: quality, frames: 0};
    const id = MorvaneCodecs.add(codec);
    try {
      codec.encoder = new VideoEncoder({output: MorvaneCodecs.output(codec), error: MorvaneCodecs.failed(codec)});
      // Constant quality, no frame held back: each frame gives its packet.
      codec.encoder.configure({codec: 'vp09.00.10.08', width: width, height: height, bitrateMode: 'quantizer',
        latencyMode: 'realtime'});
    } catch (error) {
      codec.failure = String(error && error.message || error);
      return -id;
    }
    return id;
  },

  morvane_video_encode__deps: ['$MorvaneCodecs', '$Asyncify'],
  morvane_video_encode: function(id, planes, size, ms, durationMs) {
    const codec = MorvaneCodecs.codecs[id];
    return Asyncify.handleAsync(async () => {
      if (MorvaneCodecs.state(codec)) return -1;
      try {
        const frame = new VideoFrame(HEAPU8.slice(planes, planes + size), {format: 'I420', codedWidth: codec.width,
          codedHeight: codec.height, timestamp: Math.round(ms * 1000), duration: Math.round(durationMs * 1000),
          // The planes are BT.601 in studio range (RgbToI420), as players take a
          // VP9 stream that says nothing of its colours.
          colorSpace: {primaries: 'smpte170m', transfer: 'smpte170m', matrix: 'smpte170m', fullRange: false}});
        codec.encoder.encode(frame, {keyFrame: codec.frames++ === 0 || codec.frames % 120 === 1,
          vp9: {quantizer: codec.quality}});
        frame.close();
        await codec.encoder.flush();
      } catch (error) {
        codec.failure = codec.failure || String(error && error.message || error);
      }
      return MorvaneCodecs.state(codec);
    });
  },

  morvane_sound_open__deps: ['$MorvaneCodecs'],
  morvane_sound_open: function(rate, channels, bitrate) {
    const codec = {rate: rate, channels: channels, sent: 0, head: null};
    const id = MorvaneCodecs.add(codec);
    try {
      codec.encoder = new AudioEncoder({output: MorvaneCodecs.output(codec), error: MorvaneCodecs.failed(codec)});
      codec.encoder.configure({codec: 'opus', sampleRate: rate, numberOfChannels: channels, bitrate: bitrate});
    } catch (error) {
      codec.failure = String(error && error.message || error);
      return -id;
    }
    return id;
  },

  morvane_sound_encode__deps: ['$MorvaneCodecs', '$Asyncify'],
  morvane_sound_encode: function(id, pcm, bytes) {
    const codec = MorvaneCodecs.codecs[id];
    return Asyncify.handleAsync(async () => {
      if (MorvaneCodecs.state(codec)) return -1;
      const frames = Math.floor(bytes / (2 * codec.channels));
      if (frames > 0) {
        try {
          const data = HEAPU8.slice(pcm, pcm + frames * 2 * codec.channels);
          codec.encoder.encode(new AudioData({format: 's16', sampleRate: codec.rate, numberOfFrames: frames,
            numberOfChannels: codec.channels, timestamp: Math.round(codec.sent * 1e6 / codec.rate), data: data}));
          codec.sent += frames;
        } catch (error) {
          codec.failure = codec.failure || String(error && error.message || error);
        }
      }
      // The packets ready come out while this waits; the sound is never
      // flushed before its end, which would end its stream.
      if (codec.encoder.encodeQueueSize > 8) {
        while (codec.encoder.encodeQueueSize > 0 && !codec.failure) await new Promise((r) => setTimeout(r, 1));
      } else {
        await new Promise((r) => setTimeout(r, 0));
      }
      return MorvaneCodecs.state(codec);
    });
  },

  morvane_codec_finish__deps: ['$MorvaneCodecs', '$Asyncify'],
  morvane_codec_finish: function(id) {
    const codec = MorvaneCodecs.codecs[id];
    return Asyncify.handleAsync(async () => {
      if (MorvaneCodecs.state(codec)) return -1;
      try {
        await codec.encoder.flush();
      } catch (error) {
        codec.failure = codec.failure || String(error && error.message || error);
      }
      return MorvaneCodecs.state(codec);
    });
  },

  morvane_codec_packet__deps: ['$MorvaneCodecs'],
  morvane_codec_packet: function(id, destination, capacity, msPtr, keyPtr) {
    const codec = MorvaneCodecs.codecs[id];
    if (!codec || codec.packets.length === 0) return -1;
    const packet = codec.packets[0];
    if (packet.bytes.length > capacity) return packet.bytes.length;
    codec.packets.shift();
    HEAPU8.set(packet.bytes, destination);
    HEAPF64[msPtr >> 3] = packet.ms;
    HEAP32[keyPtr >> 2] = packet.key ? 1 : 0;
    return packet.bytes.length;
  },

  morvane_codec_failure__deps: ['$MorvaneCodecs'],
  morvane_codec_failure: function(id, destination, capacity) {
    const codec = MorvaneCodecs.codecs[id];
    if (!codec) return 0;
    return stringToUTF8(codec.failure, destination, capacity);
  },

  morvane_sound_head__deps: ['$MorvaneCodecs'],
  morvane_sound_head: function(id, destination, capacity) {
    const codec = MorvaneCodecs.codecs[id];
    if (!codec || !codec.head || codec.head.length > capacity) return 0;
    HEAPU8.set(codec.head, destination);
    return codec.head.length;
  },

  morvane_codec_close__deps: ['$MorvaneCodecs'],
  morvane_codec_close: function(id) {
    const codec = MorvaneCodecs.codecs[id];
    if (!codec) return;
    try {
      if (codec.encoder && codec.encoder.state !== 'closed') codec.encoder.close();
    } catch (error) { /* closed already */ }
    MorvaneCodecs.codecs[id] = null;
  },
});
