// The viewer's page: draws the pictures the server sends over the WebSocket,
// builds the tools' controls from their schemas, and sends the user's
// commands as JSON messages (vantrel/viewer/protocol.py lists them).
"use strict";

(() => {
  // Binary frames: the layout of vantrel.viewer.frames.HEADER
  // ("<4sBBHHBxIqqI": magic, version, kind, width, height, polarity, pad,
  // number, window start, window end, lit pixels), then one byte per pixel.
  const HEADER_BYTES = 36;
  const MAGIC = "VTRF";
  const KIND_FRAME = 0;
  const CODES = { none: 0, off: 1, on: 2 };

  // Colours, also read by the browser tests.
  const PALETTE = {
    none: [22, 24, 30],
    off: [66, 135, 255],
    on: [255, 255, 255],
  };

  const $ = (id) => document.getElementById(id);
  const picture = $("picture");
  const overlay = $("overlay");
  const pictureContext = picture.getContext("2d");
  const overlayContext = overlay.getContext("2d");

  const state = {
    ws: null,
    info: null,
    status: null,
    settings: { mode: "frame", polarity: "both", window_us: 20000 },
    nextId: 1,
    frame: null,        // header of the last frame drawn
    framesDrawn: 0,
    drawTimes: [],
    messages: [],       // results and errors, newest last
    tools: {},          // tool id -> {params, values}
    drag: null,
    seeking: false,
    lastEvents: null,
  };

  // -- lookup tables from pixel codes to RGBA (little-endian ABGR words) ----
  const rgba = ([r, g, b]) => ((255 << 24) | (b << 16) | (g << 8) | r) >>> 0;
  const frameTable = new Uint32Array(256).fill(rgba(PALETTE.none));
  frameTable[CODES.off] = rgba(PALETTE.off);
  frameTable[CODES.on] = rgba(PALETTE.on);
  const surfaceColour = (v) => PALETTE.none.map((c, i) => Math.round(c + (PALETTE.on[i] - c) * v / 255));
  const surfaceTable = new Uint32Array(256).map((_, v) => rgba(surfaceColour(v)));

  // -- the WebSocket -----------------------------------------------------------
  function connect() {
    const ws = new WebSocket(`ws://${location.host}/ws`);
    ws.binaryType = "arraybuffer";
    state.ws = ws;
    ws.onopen = () => {
      setConnection("connected", "ok");
      send({ type: "settings", ...state.settings });
    };
    ws.onmessage = (event) => {
      if (event.data instanceof ArrayBuffer) {
        drawFrame(event.data);
      } else {
        onMessage(JSON.parse(event.data));
      }
    };
    ws.onclose = (event) => {
      setConnection(event.reason ? `disconnected: ${event.reason}` : "disconnected", "bad");
      setTimeout(connect, 2000);
    };
  }

  function send(message) {
    if (!state.ws || state.ws.readyState !== WebSocket.OPEN) {
      note({ ok: false, text: "not connected to the viewer" });
      return null;
    }
    const id = state.nextId++;
    state.ws.send(JSON.stringify({ ...message, id }));
    return id;
  }

  function onMessage(message) {
    switch (message.type) {
      case "info": onInfo(message); break;
      case "status": onStatus(message); break;
      case "tool": onToolValues(message.tool, message.values); break;
      case "result": onResult(message); break;
      case "error": note({ ok: false, error: true, text: message.message, id: message.id }); break;
      default: break;
    }
  }

  function setConnection(text, cls) {
    const el = $("connection");
    el.textContent = text;
    el.className = `state ${cls}`;
  }

  // -- pictures -------------------------------------------------------------------
  let image = null;

  function drawFrame(buffer) {
    const view = new DataView(buffer);
    const magic = String.fromCharCode(...new Uint8Array(buffer, 0, 4));
    if (buffer.byteLength < HEADER_BYTES || magic !== MAGIC) return;
    const header = {
      kind: view.getUint8(5),
      width: view.getUint16(6, true),
      height: view.getUint16(8, true),
      polarity: view.getUint8(10),
      number: view.getUint32(12, true),
      start: Number(view.getBigInt64(16, true)),
      end: Number(view.getBigInt64(24, true)),
      lit: view.getUint32(32, true),
    };
    const n = header.width * header.height;
    if (buffer.byteLength !== HEADER_BYTES + n) return;
    if (picture.width !== header.width || picture.height !== header.height) {
      picture.width = overlay.width = header.width;
      picture.height = overlay.height = header.height;
      image = null;
      drawOverlay();
      fitPicture();
    }
    if (!image) image = pictureContext.createImageData(header.width, header.height);
    const pixels = new Uint8Array(buffer, HEADER_BYTES, n);
    const out = new Uint32Array(image.data.buffer);
    const table = header.kind === KIND_FRAME ? frameTable : surfaceTable;
    for (let i = 0; i < n; i++) out[i] = table[pixels[i]];
    pictureContext.putImageData(image, 0, 0);
    state.frame = header;
    state.framesDrawn++;
    const now = performance.now();
    state.drawTimes.push(now);
    while (state.drawTimes.length && now - state.drawTimes[0] > 2000) state.drawTimes.shift();
    $("caption").textContent =
      `${header.kind === KIND_FRAME ? "event frame" : "time surface"}, ` +
      `${formatTime(header.start)} – ${formatTime(header.end)}, ${header.lit} pixels lit`;
    // Ask for the next picture once this one is on screen: a page that
    // cannot keep up (or is hidden) gets fewer pictures.
    requestAnimationFrame(() => {
      if (state.ws && state.ws.readyState === WebSocket.OPEN) state.ws.send('{"type":"ready"}');
    });
  }

  // The picture as large as the page allows, with the playback bar in view.
  function fitPicture() {
    const stage = $("stage");
    const top = stage.getBoundingClientRect().top;
    const below = $("playback").hidden ? 40 : 80;
    const width = $("picture-panel").clientWidth;
    const height = Math.max(120, window.innerHeight - top - below);
    const scale = Math.min(width / picture.width, height / picture.height);
    stage.style.width = `${Math.floor(picture.width * scale)}px`;
    stage.style.height = `${Math.floor(picture.height * scale)}px`;
  }
  window.addEventListener("resize", fitPicture);

  function formatTime(us) {
    return `${(us / 1e6).toFixed(3)} s`;
  }

  // -- info: identity, tools, playback ---------------------------------------------
  function onInfo(info) {
    state.info = info;
    const d = info.description;
    const parts = info.source === "camera"
      ? [d.product, d.serial, `firmware ${d.firmware}`, d.manufacturer, d.interface, `vid:pid ${d.vid_pid}`]
      : [d.file, d.serial && `camera ${d.serial}`, d.recorded && `recorded ${d.recorded}`, `${d.events} events`];
    parts.push(`${info.width}×${info.height}`);
    $("identity").textContent = parts.filter(Boolean).join(" · ");
    document.title = `Vantrel viewer – ${info.source === "camera" ? d.serial : d.file}`;
    picture.width = overlay.width = info.width;
    picture.height = overlay.height = info.height;
    image = null;
    const live = info.source === "camera";
    $("stream").hidden = !live;
    $("playback").hidden = live;
    overlay.classList.toggle("draggable", live && info.tools.some((t) => t.id === "roi"));
    if (!live) {
      const slider = $("time");
      slider.min = info.playback.start_us;
      slider.max = info.playback.end_us + 1;
    }
    buildTools(info.tools);
    drawOverlay();
    fitPicture();
  }

  function buildTools(tools) {
    const list = $("tool-list");
    list.replaceChildren();
    state.tools = {};
    if (!tools.length) {
      list.textContent = state.info.source === "camera" ? "this camera has no tools" : "a recording has no tools";
      return;
    }
    for (const tool of tools) {
      state.tools[tool.id] = { params: tool.params, values: { ...tool.values } };
      const box = document.createElement("fieldset");
      box.id = `tool-${tool.id}`;
      const legend = document.createElement("legend");
      legend.textContent = tool.name || tool.id;
      legend.title = tool.description;
      box.append(legend);
      for (const param of tool.params) box.append(paramRow(tool.id, param, tool.values[param.name]));
      const result = document.createElement("div");
      result.className = "result";
      result.id = `result-${tool.id}`;
      box.append(result);
      list.append(box);
    }
  }

  function paramRow(toolId, param, value) {
    const row = document.createElement("div");
    row.className = "param";
    const label = document.createElement("label");
    const id = `param-${toolId}-${param.name}`;
    label.htmlFor = id;
    label.textContent = param.unit ? `${param.name} (${param.unit})` : param.name;
    label.title = param.description;
    let input;
    if (param.type === "bool") {
      input = document.createElement("input");
      input.type = "checkbox";
      input.addEventListener("change", () => setParam(toolId, param.name, input.checked));
    } else if (param.type === "enum") {
      input = document.createElement("select");
      for (const option of param.options || []) {
        const o = document.createElement("option");
        o.value = o.textContent = option;
        input.append(o);
      }
      input.addEventListener("change", () => setParam(toolId, param.name, input.value));
    } else {
      input = document.createElement("input");
      if (param.type === "int" || param.type === "float") {
        input.type = "number";
        if (param.min !== undefined) { input.min = param.min; input.max = param.max; }
        input.step = param.type === "int" ? "1" : "any";
      } else {
        input.type = "text";
      }
      input.addEventListener("change", () => {
        if (param.type === "string") return setParam(toolId, param.name, input.value);
        if (input.value.trim() === "") return;
        setParam(toolId, param.name, Number(input.value));
      });
    }
    input.id = id;
    input.dataset.tool = toolId;
    input.dataset.param = param.name;
    input.title = param.description;
    showValue(input, param, value);
    row.append(label, input);
    return row;
  }

  function showValue(input, param, value) {
    if (value === null || value === undefined) return;
    if (param.type === "bool") input.checked = Boolean(value);
    else if (param.type === "float") input.value = Number(value.toPrecision(7));
    else input.value = value;
  }

  function setParam(toolId, name, value) {
    send({ type: "set", tool: toolId, name, value });
  }

  function onToolValues(toolId, values) {
    const tool = state.tools[toolId];
    if (!tool) return;
    tool.values = { ...values };
    for (const param of tool.params) {
      const input = $(`param-${toolId}-${param.name}`);
      if (input && document.activeElement !== input) showValue(input, param, values[param.name]);
      else if (input && param.type === "bool") showValue(input, param, values[param.name]);
    }
    if (toolId === "roi") drawOverlay();
  }

  function onResult(result) {
    if (result.request === "settings") return;  // the picture shows it
    note(result);
    if (result.tool) {
      const el = $(`result-${result.tool}`);
      if (el) {
        el.textContent = result.text;
        el.className = `result ${result.ok ? "ok" : "refused"}`;
      }
    }
  }

  function note(entry) {
    state.messages.push(entry);
    if (state.messages.length > 200) state.messages.shift();
    const list = $("message-list");
    const item = document.createElement("li");
    item.textContent = entry.text;
    item.className = entry.error ? "error" : entry.ok ? "ok" : "refused";
    list.prepend(item);
    while (list.children.length > 50) list.lastChild.remove();
  }

  // -- status ------------------------------------------------------------------------
  function onStatus(status) {
    const previous = state.status;
    state.status = status;
    const live = state.info && state.info.source === "camera";
    if (live) {
      $("start-stop").textContent = status.streaming ? "Stop" : "Start";
      $("stream-state").textContent = !status.connected ? "unplugged" : status.streaming ? "streaming" : "stopped";
      showRecording(status);
    } else if (status.playback) {
      const p = status.playback;
      $("play").textContent = status.streaming ? "Pause" : "Play";
      if (!state.seeking && !state.seekPending()) $("time").value = p.position_us;
      $("time-label").textContent =
        `${formatTime(p.position_us - p.start_us)} of ${formatTime(p.end_us - p.start_us)}`;
    }
    let eventsPerS = null;
    if (previous && previous._at) {
      const dt = (performance.now() - previous._at) / 1000;
      if (dt > 0) eventsPerS = (status.events - previous.events) / dt;
    }
    status._at = performance.now();
    const driver = status.driver;
    const rows = [
      ["stream clock", formatTime(status.clock_us)],
      ["events received", status.events.toLocaleString("en")],
      ["events/s received", eventsPerS === null ? "…" : si(eventsPerS)],
      ...(live ? [
        ["driver: events/s", driver ? si(driver.events_per_s) : "no report yet"],
        ["driver: bytes/s", driver ? si(driver.bytes_per_s) + "B" : "no report yet"],
      ] : []),
      ["frames/s drawn", (state.drawTimes.length / 2).toFixed(1)],
      ["frames drawn", String(state.framesDrawn)],
      ["events off the sensor", String(status.ignored)],
      ["requests refused", String(status.refused)],
    ];
    const table = $("stats-table");
    table.replaceChildren(...rows.map(([k, v]) => {
      const tr = document.createElement("tr");
      const th = document.createElement("th");
      const td = document.createElement("td");
      th.textContent = k;
      td.textContent = v;
      tr.append(th, td);
      return tr;
    }));
    drawRate(status.rate);
  }

  function showRecording(status) {
    const el = $("record-state");
    const button = $("record");
    if (status.recording) {
      const r = status.recording;
      button.textContent = "Stop recording";
      el.textContent = `recording to ${r.path}: ${r.events.toLocaleString("en")} events, ` +
        `${si(r.bytes)}B, ${r.seconds.toFixed(1)} s`;
      el.className = "recording";
    } else {
      button.textContent = "Record";
      const last = status.last_recording;
      el.textContent = last
        ? `${last.path}: ${last.events === null ? "not readable" : last.events.toLocaleString("en") + " events"}, ` +
          `${si(last.bytes)}B`
        : "";
      el.className = "";
    }
  }

  function si(value) {
    for (const [unit, scale] of [["G", 1e9], ["M", 1e6], ["k", 1e3]]) {
      if (Math.abs(value) >= scale) return `${(value / scale).toFixed(2)} ${unit}`;
    }
    return `${Math.round(value)} `;
  }

  function drawRate(rate) {
    const canvas = $("rate");
    const ctx = canvas.getContext("2d");
    const w = canvas.width;
    const h = canvas.height;
    ctx.fillStyle = "#15171c";
    ctx.fillRect(0, 0, w, h);
    const rates = rate.rates || [];
    const peak = Math.max(1, ...rates);
    const left = 54;
    const top = 8;
    const bottom = h - 16;
    ctx.strokeStyle = "#3a3f4b";
    ctx.strokeRect(left, top, w - left - 4, bottom - top);
    ctx.fillStyle = "#aab";
    ctx.font = "10px sans-serif";
    ctx.fillText(`${si(peak)}ev/s`, 2, top + 8);
    ctx.fillText("0", 2, bottom);
    ctx.fillText("last 10 s of stream time", left + 4, h - 3);
    if (rates.length < 2) return;
    ctx.strokeStyle = "#6cf";
    ctx.lineWidth = 1.5;
    ctx.beginPath();
    rates.forEach((r, i) => {
      const x = left + (i / (rates.length - 1)) * (w - left - 4);
      const y = bottom - (r / peak) * (bottom - top);
      if (i === 0) ctx.moveTo(x, y); else ctx.lineTo(x, y);
    });
    ctx.stroke();
  }

  // -- the region of interest: shown, and drawn by dragging ----------------------------
  function sensorPoint(event) {
    const rect = overlay.getBoundingClientRect();
    const x = Math.floor((event.clientX - rect.left) * overlay.width / rect.width);
    const y = Math.floor((event.clientY - rect.top) * overlay.height / rect.height);
    return {
      x: Math.min(Math.max(x, 0), overlay.width - 1),
      y: Math.min(Math.max(y, 0), overlay.height - 1),
    };
  }

  function dragBox(a, b) {
    const x = Math.min(a.x, b.x);
    const y = Math.min(a.y, b.y);
    return { x, y, width: Math.abs(a.x - b.x) + 1, height: Math.abs(a.y - b.y) + 1 };
  }

  function drawOverlay() {
    overlayContext.clearRect(0, 0, overlay.width, overlay.height);
    const roi = state.tools.roi && state.tools.roi.values;
    overlayContext.lineWidth = Math.max(1, overlay.width / 320);
    if (roi && roi.enabled) {
      overlayContext.strokeStyle = "#ffcc33";
      overlayContext.strokeRect(roi.x + 0.5, roi.y + 0.5, roi.width - 1, roi.height - 1);
    }
    if (state.drag && state.drag.to) {
      const box = dragBox(state.drag.from, state.drag.to);
      overlayContext.setLineDash([4, 3]);
      overlayContext.strokeStyle = "#ff66cc";
      overlayContext.strokeRect(box.x + 0.5, box.y + 0.5, box.width - 1, box.height - 1);
      overlayContext.setLineDash([]);
    }
  }

  overlay.addEventListener("pointerdown", (event) => {
    if (!state.tools.roi || event.button !== 0) return;
    overlay.setPointerCapture(event.pointerId);
    state.drag = { from: sensorPoint(event), to: null };
  });
  overlay.addEventListener("pointermove", (event) => {
    if (!state.drag) return;
    state.drag.to = sensorPoint(event);
    drawOverlay();
  });
  overlay.addEventListener("pointerup", (event) => {
    if (!state.drag) return;
    const drag = state.drag;
    state.drag = null;
    drag.to = sensorPoint(event);
    drawOverlay();
    const box = dragBox(drag.from, drag.to);
    if (box.width < 2 || box.height < 2) return;  // a click, not a drag
    send({ type: "apply", tool: "roi", values: { enabled: true, ...box } });
  });

  // -- controls --------------------------------------------------------------------------
  function changeSettings(fields) {
    Object.assign(state.settings, fields);
    send({ type: "settings", ...fields });
  }

  for (const radio of document.querySelectorAll('input[name="mode"]')) {
    radio.addEventListener("change", () => radio.checked && changeSettings({ mode: radio.value }));
  }
  $("polarity").addEventListener("change", (e) => changeSettings({ polarity: e.target.value }));
  function setWindow(ms) {
    const value = Math.min(100, Math.max(1, Math.round(Number(ms) || 1)));
    $("window").value = $("window-ms").value = value;
    changeSettings({ window_us: value * 1000 });
  }
  $("window").addEventListener("input", (e) => setWindow(e.target.value));
  $("window-ms").addEventListener("change", (e) => setWindow(e.target.value));

  $("start-stop").addEventListener("click", () => {
    send({ type: state.status && state.status.streaming ? "stop" : "start" });
  });
  $("record").addEventListener("click", () => {
    if (state.status && state.status.recording) {
      send({ type: "record_stop" });
    } else {
      const name = $("record-name").value.trim();
      send(name ? { type: "record", name } : { type: "record" });
    }
  });
  $("snapshot").addEventListener("click", () => {
    const d = state.info ? state.info.description : {};
    const name = `${d.serial || d.file || "vantrel"}-${state.frame ? state.frame.end : 0}us.png`;
    picture.toBlob((blob) => {
      const link = document.createElement("a");
      link.href = URL.createObjectURL(blob);
      link.download = name;
      document.body.append(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      note({ ok: true, text: `snapshot saved as ${name}` });
    }, "image/png");
  });

  // Playback of recordings.
  $("play").addEventListener("click", () => {
    send({ type: state.status && state.status.streaming ? "stop" : "start" });
  });
  $("speed").addEventListener("change", (e) => send({ type: "speed", speed: Number(e.target.value) }));
  const slider = $("time");
  let seekTimer = null;
  let seekTo = null;
  slider.addEventListener("pointerdown", () => { state.seeking = true; });
  slider.addEventListener("pointerup", () => { state.seeking = false; });
  slider.addEventListener("input", () => {
    // At most one seek every 50 ms while the slider moves, and always the last.
    seekTo = Number(slider.value);
    if (seekTimer) return;
    seekTimer = setTimeout(() => {
      seekTimer = null;
      send({ type: "seek", t_us: seekTo });
      seekTo = null;
    }, 50);
  });
  state.seekPending = () => seekTo !== null;

  // For tests and the curious.
  window.vantrelViewer = { state, PALETTE, CODES, surfaceColour };

  connect();
})();
