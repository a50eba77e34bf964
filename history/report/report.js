// The session report: reads the session (JSON in the page) and draws the head, the alarm
// timeline and one uPlot chart per group of values, all on one time axis. What it drew goes
// into #results for the browser tests.
(function () {
  'use strict';
  const started = performance.now();
  const session = JSON.parse(document.getElementById('session').textContent);
  const colours = ['#1f77b4', '#ff7f0e', '#2ca02c', '#9467bd', '#8c564b', '#e377c2', '#17becf',
                   '#bcbd22', '#7f7f7f', '#393b79', '#637939', '#843c39'];
  const plots = [];
  const results = [];

  function el(tag, attrs, text) {
    const e = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
    if (text !== undefined) e.textContent = text;
    return e;
  }
  // Times are the bench's local times, carried as if UTC so that they show as written.
  function when(t) {
    return t === null || t === undefined ? '-' : new Date(t * 1000).toISOString().slice(0, 19).replace('T', ' ');
  }
  // Axis ticks: the time of day, with seconds on a short span and the date on a long one.
  function axisTime(u, t) {
    const text = when(t);
    const span = u.scales.x.max - u.scales.x.min;
    return span > 2 * 86400 ? text.slice(5, 16) : span > 600 ? text.slice(11, 16) : text.slice(11);
  }
  function levelClass(level) {
    return level >= 1 && level <= 3 ? 'level-' + level : 'level-other';
  }

  // Head: the range, the site and what happened.
  function drawHead() {
    const head = document.getElementById('head');
    const p = el('p');
    p.id = 'summary';
    p.textContent = (session.rounds ? 'First round ' + when(session.first_round) + ', last round ' +
        when(session.last_round) + ', ' + session.rounds + ' rounds (of the unit with the most), '
        : 'No rounds in this range, ') + session.alarms_raised + ' alarms raised.';
    head.append(p);
    if (session.undecoded)
      head.append(el('p', {id: 'undecoded'}, session.undecoded + ' saved images did not decode and are left out.'));
    if (session.held_first)
      head.append(el('p', {id: 'held'}, 'The history holds the rounds from ' + session.held_first.replace('T', ' ') +
          ' to ' + session.held_last.replace('T', ' ') + '.'));
    if (session.from || session.to)
      head.append(el('p', {}, 'Range asked for: ' + (session.from || 'start') + ' to ' + (session.to || 'end') + '.'));
    if (!session.units.length) return;
    const table = el('table', {class: 'site'});
    const tr = el('tr');
    for (const h of ['data id', 'unit', 'channels / modules', 'rounds', 'first', 'last', 'round period', 'line lost'])
      tr.append(el('th', {}, h));
    table.append(tr);
    for (const u of session.units) {
      const row = el('tr', {class: 'site-unit', 'data-id': u.data_id});
      const cells = [u.data_id, u.kind + ' (' + u.type + ')', u.count_of ? u.count + ' ' + u.count_of : '',
                     u.rounds, when(u.first), when(u.last), u.period + ' s',
                     u.gaps.length ? u.gaps.length + ' times' : 'never'];
      for (const c of cells) row.append(el('td', {}, String(c)));
      table.append(row);
    }
    head.append(table);
  }

  function drawLegend() {
    const legend = document.getElementById('legend');
    legend.append(el('p', {}, 'Values the power system marked as not available are gaps in their line, not ' +
        'dips to zero: the plugin stores them as 0.0 for the AC channels\' voltages and frequency and as -0.1 for ' +
        'the phase currents (a channel that truly reads 0 V shows as a gap too). Each chart\'s legend counts them.'));
    legend.append(el('p', {}, 'Shaded bands: no round completed for longer than ' + session.gap_periods +
        ' round periods of the unit (the line was lost). Charts and timeline share one time axis: drag ' +
        'across a chart to zoom all of them, double-click to see the whole session again.'));
  }

  // The alarm timeline: one row per alarm, a bar from raised to cleared (or to the end).
  function drawTimeline() {
    const box = document.getElementById('timeline');
    const rows = [];
    if (!session.alarms.length) {
      box.append(el('p', {id: 'no-alarms'}, 'No alarm in this range.'));
      return {show() {}};
    }
    const levels = el('p');
    for (const level of [...new Set(session.alarms.map(a => a.level))].sort()) {
      levels.append(el('span', {class: 'swatch ' + levelClass(level)}));
      levels.append(document.createTextNode('level ' + level));
    }
    levels.append(document.createTextNode('  (a dashed end: still active at the end)'));
    box.append(levels);
    const grid = el('div', {class: 'timeline'});
    const gapsOf = new Map(session.units.map(u => [u.data_id, u.gaps]));
    for (const a of session.alarms) {
      const label = el('div', {class: 'alarm-label'}, a.device + ' ' + a.rule_id + '/' + a.seq + ' ' + a.text);
      label.title = 'code ' + a.code + ', ' + a.name + ', level ' + a.level;
      const track = el('div', {class: 'alarm-track alarm-row', 'data-rule': a.rule_id + '/' + a.seq,
                               'data-device': a.device, 'data-bars': a.bars.length});
      const bars = a.bars.map(b => {
        const bar = el('div', {class: 'alarm-bar ' + levelClass(a.level) + (b[1] === null ? ' active' : '')});
        bar.title = a.text + ': raised ' + when(b[0]) + (b[1] === null ? ', still active' : ', cleared ' + when(b[1]));
        track.append(bar);
        return [bar, b[0], b[1] === null ? session.last : b[1]];
      });
      const bands = (gapsOf.get(a.device) || []).map(g => {
        const band = el('div', {class: 'gap-band'});
        track.append(band);
        return [band, g[0], g[1]];
      });
      grid.append(label, track);
      rows.push(bars.concat(bands));
    }
    box.append(grid);
    return {
      show(min, max) {
        const span = Math.max(max - min, 1);
        for (const row of rows)
          for (const [e, from, to] of row) {
            const l = Math.max(0, (from - min) / span), r = Math.min(1, (to - min) / span);
            e.style.display = r < 0 || l > 1 || r < l ? 'none' : '';
            e.style.left = (100 * l) + '%';
            e.style.width = (100 * Math.max(r - l, 0)) + '%';
          }
      }
    };
  }

  // Zooming one chart zooms all of them and the timeline.
  let syncing = false;
  let timeline = null;
  function zoomed(src) {
    if (syncing) return;
    syncing = true;
    const {min, max} = src.scales.x;
    for (const p of plots) if (p !== src) p.setScale('x', {min, max});
    timeline.show(min, max);
    syncing = false;
  }

  // Shaded bands over a chart's plotting area where its unit lost the line.
  function placeBands(u, bands) {
    const width = u.over.clientWidth;
    for (const [band, from, to] of bands) {
      const l = Math.max(0, u.valToPos(from, 'x')), r = Math.min(width, u.valToPos(to, 'x'));
      band.style.display = r <= l ? 'none' : '';
      band.style.left = l + 'px';
      band.style.width = Math.max(r - l, 0) + 'px';
    }
  }

  function drawChart(unit, chart, box, width) {
    const div = el('div', {class: 'chart', 'data-chart': chart.id});
    box.append(div);
    // Every chart spans the whole session, so that they line up and zoom out alike.
    const xs = unit.x.slice();
    const pad = [];
    if (session.first < xs[0]) { xs.unshift(session.first); pad.push('start'); }
    if (session.last > xs[xs.length - 1]) { xs.push(session.last); pad.push('end'); }
    const ys = chart.series.map(s => {
      const y = s.y.slice();
      if (pad.includes('start')) y.unshift(null);
      if (pad.includes('end')) y.push(null);
      return y;
    });
    const scaleNames = [...new Set(chart.series.map(s => s.scale || 'value'))];
    const series = [{label: 'time', value: (u, t) => when(t)}];
    chart.series.forEach((s, i) => {
      const scale = s.scale || 'value';
      const label = s.label + (s.scale ? ' (' + s.scale + ')' : '') + (s.missing ? ', ' + s.missing + ' n/a' : '');
      if (s.marks) {
        series.push({label, scale, stroke: '#d7191c', fill: '#d7191c', paths: () => null,
                     points: {show: true, size: 9, stroke: '#d7191c', fill: '#d7191c'}});
      } else {
        series.push({label, scale, stroke: colours[i % colours.length], width: 1.5, spanGaps: false});
      }
    });
    const axes = [{values: (u, splits) => splits.map(t => axisTime(u, t)), space: 70}];
    scaleNames.slice(0, 2).forEach((name, i) => {
      axes.push({scale: name, label: name === 'value' ? '' : name, side: i === 0 ? 3 : 1,
                 grid: {show: i === 0}, size: 55});
    });
    const title = unit.kind + ' ' + unit.data_id + ': ' + chart.title;
    const bands = unit.gaps.map(g => [el('div', {class: 'gap-band'}), g[0], g[1]]);
    const plot = new uPlot({
      title, width, height: 230,
      tzDate: t => uPlot.tzDate(new Date(t * 1000), 'Etc/UTC'),
      scales: {x: {time: true}},
      series, axes,
      cursor: {sync: {key: 'session', setSeries: false}},
      hooks: {
        ready: [u => { for (const [band] of bands) u.over.append(band); }],
        setScale: [(u, key) => { if (key === 'x') zoomed(u); }],
        draw: [u => { placeBands(u, bands); drawn(u); }],
      },
    }, [xs, ...ys], div);
    plots.push(plot);
    if (unit.thinned)
      div.append(el('p', {class: 'note thinned'}, 'Thinned: ' + unit.rounds + ' rounds, each point pair is the ' +
          'smallest and largest value of up to ' + unit.thinned + ' rounds.'));
    chart.series.forEach((s, i) => {
      const points = s.y.filter(v => v !== null).length;
      results.push(el('li', {'data-chart': chart.id, 'data-series': s.label, 'data-points': points,
                             'data-missing': s.missing}));
    });
  }

  // The time from the start of this script until every chart has drawn once.
  const pending = new Set();
  function drawn(u) {
    if (!pending.delete(u) || pending.size) return;
    const r = document.getElementById('results');
    r.dataset.drawMs = (performance.now() - started).toFixed(0);
    r.dataset.loadMs = performance.now().toFixed(0);
  }

  drawHead();
  drawLegend();
  timeline = drawTimeline();
  const main = document.getElementById('charts');
  const width = Math.max(480, Math.min(760, (document.documentElement.clientWidth - 80) / 2));
  for (const unit of session.units) {
    const section = el('section', {class: 'unit', 'data-id': unit.data_id});
    section.append(el('h2', {}, unit.kind + ' ' + unit.data_id +
        (unit.count_of ? ', ' + unit.count + ' ' + unit.count_of : '')));
    const box = el('div', {class: 'unit-charts'});
    section.append(box);
    main.append(section);
    for (const chart of unit.charts) drawChart(unit, chart, box, width);
  }
  for (const p of plots) pending.add(p);
  if (session.first !== null) timeline.show(session.first, session.last);
  const r = document.getElementById('results');
  r.dataset.charts = plots.length;
  r.dataset.alarmRows = session.alarms.length;
  const list = el('ul');
  list.append(...results);
  r.append(list);
  if (!plots.length) r.dataset.drawMs = (performance.now() - started).toFixed(0);
})();
