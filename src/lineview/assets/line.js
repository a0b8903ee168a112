// The line's page: draws the figures the program put in #line-data and, when served, asks for
// fresh ones every few seconds. Every text from the record goes in as text, never as markup.
(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('line-data').textContent);
  var W = data.words;
  var query = data.query;
  var REFRESH_MS = 5000;
  var BAR_COLOURS = ['#2f6db5', '#e08a1e', '#3a9a5b', '#8a4fb0', '#c0504d', '#4bacc6', '#7f7f7f',
                     '#9bbb59'];
  var PARETO_COLOUR = '#c0392b';
  var charts = {};

  function el(tag, attrs) {
    var node = document.createElement(tag);
    if (attrs)
      Object.keys(attrs).forEach(function (name) {
        if (attrs[name] !== null && attrs[name] !== undefined) node.setAttribute(name, attrs[name]);
      });
    for (var i = 2; i < arguments.length; ++i) {
      var child = arguments[i];
      if (child === null || child === undefined) continue;
      node.appendChild(typeof child === 'object' ? child : document.createTextNode(String(child)));
    }
    return node;
  }
  function fill(pattern) {
    var args = arguments;
    return pattern.replace(/\{(\d)\}/g, function (all, n) {
      var at = Number(n) + 1;
      return at < args.length ? String(args[at]) : all;
    });
  }
  function percent(x) { return x === null ? '\u2013' : (x * 100).toFixed(1) + ' %'; }
  function rate(x) { return x === null ? '\u2013' : x.toFixed(1); }
  function ago(seconds) {
    if (seconds === null) return '';
    if (seconds < 0) seconds = 0;
    if (seconds < 120) return fill(W.agoS, seconds);
    if (seconds < 7200) return fill(W.agoM, Math.floor(seconds / 60));
    if (seconds < 172800) return fill(W.agoH, Math.floor(seconds / 3600));
    return fill(W.agoD, Math.floor(seconds / 86400));
  }
  function search(change) {
    var p = {since: query.since, until: query.until, lang: data.lang, step: query.step};
    Object.keys(change || {}).forEach(function (k) { p[k] = change[k]; });
    return Object.keys(p).filter(function (k) { return p[k] !== null && p[k] !== undefined; })
        .map(function (k) { return k + '=' + encodeURIComponent(p[k]); }).join('&');
  }
  function resultText(result) { return result === 'RUNNING' ? W.running : result; }

  // ---- the frame, drawn once
  var header = el('header', null, el('h1', null, W.title));
  var periodText = query.since === query.until ? query.since : query.since + ' \u2013 ' + query.until;
  header.appendChild(el('p', {'class': 'period', id: 'period'}, fill(W.period, periodText)));
  if (data.served) {
    var form = el('form', {method: 'get', action: '', 'class': 'choose'},
                  el('input', {type: 'date', name: 'since', value: query.since}), ' \u2013 ',
                  el('input', {type: 'date', name: 'until', value: query.until}),
                  el('input', {type: 'hidden', name: 'lang', value: data.lang}),
                  el('button', {type: 'submit'}, W.show), ' ',
                  el('a', {href: '?' + search({since: null, until: null, step: null})}, W.today));
    header.appendChild(form);
    var languages = el('nav', {'class': 'languages', 'aria-label': W.language});
    data.languages.forEach(function (l) {
      languages.appendChild(l.tag === data.lang ? el('b', null, l.name)
                                                 : el('a', {href: '?' + search({lang: l.tag})}, l.name));
    });
    header.appendChild(languages);
  }
  var stationsBody = el('tbody');
  var stationsTable = el('table', {id: 'stations'},
      el('thead', null, el('tr', null, el('th', null, W.station), el('th', null, W.units),
          el('th', null, W.pass), el('th', null, W.fail), el('th', null, W.running),
          el('th', null, W.fpy), el('th', null, W.fy), el('th', null, W.uph),
          el('th', null, W.last))),
      stationsBody);
  var hourlyCanvas = el('canvas', {id: 'hourly-chart'});
  var paretoCanvas = el('canvas', {id: 'pareto-chart'});
  var paretoBody = el('tbody');
  var paretoNone = el('p', {'class': 'none', id: 'pareto-none'}, W.noFailures);
  var chartsSection = el('section', {'class': 'charts'},
      el('div', {'class': 'chart'}, el('h2', null, W.hourly), el('div', {'class': 'canvas'}, hourlyCanvas)),
      el('div', {'class': 'chart'}, el('h2', null, W.pareto), el('div', {'class': 'canvas'}, paretoCanvas),
         paretoNone,
         el('table', {id: 'pareto'}, el('thead', null, el('tr', null, el('th', null, W.step),
             el('th', null, W.failedRuns))), paretoBody)));
  var unitsTitle = el('h2', {id: 'units-title'});
  var unitsTools = el('p', {'class': 'tools'});
  var unitsBody = el('tbody');
  var unitsNone = el('p', {'class': 'none', id: 'units-none'}, W.noUnits);
  var unitsSection = el('section', {id: 'units'}, unitsTitle, unitsTools,
      el('table', {id: 'unit-list'}, el('thead', null, el('tr', null, el('th', null, W.time),
          el('th', null, W.station), el('th', null, W.result), el('th', null, W.reason),
          el('th', null, W.rxsn), el('th', null, W.txsn))), unitsBody), unitsNone);
  var status = el('span', {id: 'status'});
  var footer = el('footer', null, status, ' \u00b7 ',
      data.served ? el('a', {href: 'assets/chart.js-LICENSE.md'}, W.charts) : W.charts);
  var page = document.getElementById('page');
  [header, el('section', null, stationsTable), chartsSection, unitsSection, footer].forEach(
      function (part) { page.appendChild(part); });

  // ---- the figures
  function stationRow(f, name, cls) {
    var last = f.last_unit;
    var lastCell = el('td', {'class': 'last'});
    if (last) {
      // The last unit's result stays on show until the next one.
      var shown = last.result === 'PASS' ? 'pass' : last.result === 'FAIL' ? 'fail' : 'running';
      lastCell.appendChild(el('span', {'class': 'result ' + shown}, resultText(last.result)));
      lastCell.appendChild(document.createTextNode(' '));
      lastCell.appendChild(el('span', {'class': 'when', title: last.time}, ago(last.seconds_ago)));
      if (f.stopped) lastCell.appendChild(el('span', {'class': 'stopped-mark'}, ' ' + W.stopped));
    }
    return el('tr', {'class': cls + (f.stopped ? ' stopped' : ''), 'data-station': name},
              el('th', {'class': 'name'}, name), el('td', {'class': 'units'}, f.units),
              el('td', {'class': 'pass'}, f.pass), el('td', {'class': 'fail'}, f.fail),
              el('td', {'class': 'running'}, f.running),
              el('td', {'class': 'fpy'}, percent(f.first_pass_yield)),
              el('td', {'class': 'fy'}, percent(f.final_yield)),
              el('td', {'class': 'uph'}, rate(f.units_per_hour)), lastCell);
  }
  function drawStations(summary) {
    stationsBody.textContent = '';
    summary.stations.forEach(function (s) { stationsBody.appendChild(stationRow(s, s.station, 'station')); });
    stationsBody.appendChild(stationRow(summary.total, W.line, 'total'));
  }

  // Pixels of exactly a bar's colour: the page says how much of each chart was painted, so a
  // test can tell bars from an empty frame.
  function colourPixels(canvas, colours) {
    var wanted = colours.map(function (c) {
      return [parseInt(c.substr(1, 2), 16), parseInt(c.substr(3, 2), 16), parseInt(c.substr(5, 2), 16)];
    });
    var pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    var count = 0;
    for (var i = 0; i < pixels.length; i += 4) {
      if (pixels[i + 3] !== 255) continue;
      for (var k = 0; k < wanted.length; ++k)
        if (pixels[i] === wanted[k][0] && pixels[i + 1] === wanted[k][1] && pixels[i + 2] === wanted[k][2]) {
          ++count;
          break;
        }
    }
    return count;
  }
  function chart(name, canvas, config, colours, points) {
    if (typeof Chart === 'undefined') return;
    if (charts[name]) {
      charts[name].data = config.data;
      charts[name].update('none');
    } else {
      config.options.animation = false;
      config.options.responsive = true;
      config.options.maintainAspectRatio = false;
      charts[name] = new Chart(canvas, config);
    }
    canvas.setAttribute('data-points', points);
    canvas.setAttribute('data-bar-pixels', colourPixels(canvas, colours));
  }
  function drawHourly(summary) {
    var oneDay = summary.period.since === summary.period.until;
    var labels = summary.hours.map(function (h) { return oneDay ? h.substr(11) : h.substr(5); });
    var colours = [];
    var points = 0;
    var datasets = summary.stations.map(function (s, i) {
      var colour = BAR_COLOURS[i % BAR_COLOURS.length];
      colours.push(colour);
      s.passed_by_hour.forEach(function (n) { points += n > 0 ? 1 : 0; });
      return {label: s.station, data: s.passed_by_hour, backgroundColor: colour, borderWidth: 0,
              maxBarThickness: 48};
    });
    chart('hourly', hourlyCanvas, {
      type: 'bar', data: {labels: labels, datasets: datasets},
      options: {scales: {x: {stacked: true}, y: {stacked: true, beginAtZero: true, ticks: {precision: 0}}},
                plugins: {legend: {position: 'bottom'}}}
    }, colours, points);
  }
  function chooseStep(step) {
    query.step = step;
    if (data.served) {
      history.replaceState(null, '', '?' + search() + '#units');
      refreshUnits();
    } else {
      drawUnits(step === null ? data.units : data.units_by_step[step]);
    }
    document.getElementById('units').scrollIntoView();
  }
  function drawPareto(summary) {
    var bars = summary.pareto;
    paretoBody.textContent = '';
    bars.forEach(function (bar) {
      var link = el('a', {href: '?' + search({step: bar.step}) + '#units', 'data-step': bar.step},
                    bar.step === '' ? W.noReason : bar.step);
      link.addEventListener('click', function (event) {
        event.preventDefault();
        chooseStep(bar.step);
      });
      paretoBody.appendChild(el('tr', null, el('td', {'class': 'step'}, link), el('td', {'class': 'count'}, bar.count)));
    });
    paretoNone.style.display = bars.length ? 'none' : '';
    paretoCanvas.parentNode.style.display = bars.length ? '' : 'none';
    if (!bars.length) return;
    var labels = bars.map(function (b) {
      var text = b.step === '' ? W.noReason : b.step;
      return text.length > 48 ? text.substr(0, 47) + '\u2026' : text;
    });
    chart('pareto', paretoCanvas, {
      type: 'bar',
      data: {labels: labels, datasets: [{label: W.failedRuns, data: bars.map(function (b) { return b.count; }),
                                         backgroundColor: PARETO_COLOUR, borderWidth: 0,
                                         maxBarThickness: 28}]},
      options: {indexAxis: 'y', scales: {x: {beginAtZero: true, ticks: {precision: 0}}},
                plugins: {legend: {display: false}},
                onClick: function (event, elements) {
                  if (elements.length) chooseStep(summary.pareto[elements[0].index].step);
                }}
    }, [PARETO_COLOUR], bars.length);
  }
  function drawUnits(units) {
    var step = units.step;
    unitsTitle.textContent = step === null ? W.latest : fill(W.failedAt, step === '' ? W.noReason : step);
    unitsTools.textContent = '';
    if (step !== null) {
      var all = el('a', {href: '?' + search({step: null}) + '#units', id: 'all-units'}, W.allUnits);
      all.addEventListener('click', function (event) {
        event.preventDefault();
        chooseStep(null);
      });
      unitsTools.appendChild(all);
      unitsTools.appendChild(document.createTextNode(' \u00b7 '));
    }
    if (data.served) unitsTools.appendChild(el('a', {href: 'units.csv?' + search(), id: 'csv'}, W.csv));
    unitsBody.textContent = '';
    units.units.forEach(function (u) {
      var cls = u.result === 'PASS' ? 'pass' : u.result === 'FAIL' ? 'fail' : 'running';
      unitsBody.appendChild(el('tr', {'data-id': u.id},
          el('td', {'class': 'time'}, u.time), el('td', {'class': 'station'}, u.station),
          el('td', {'class': 'result ' + cls}, resultText(u.result)),
          el('td', {'class': 'reason'}, u.result === 'FAIL' && u.reason === '' ? W.noReason : u.reason),
          el('td', {'class': 'serial'}, u.rx_serial), el('td', {'class': 'serial'}, u.tx_serial)));
    });
    unitsNone.style.display = units.units.length ? 'none' : '';
  }
  function drawSummary(summary) {
    drawStations(summary);
    drawHourly(summary);
    drawPareto(summary);
  }

  // ---- fresh figures, while served
  function get(path) {
    return fetch(path + '?' + search(), {cache: 'no-store'}).then(function (response) {
      if (!response.ok) return response.text().then(function (t) { throw new Error(t.trim()); });
      return response.json();
    });
  }
  function said(text) { status.textContent = text; }
  function refreshUnits() {
    return get('api/units.json').then(drawUnits).catch(function (e) { said(fill(W.refreshFailed, e.message)); });
  }
  function refresh() {
    Promise.all([get('api/summary.json'), get('api/units.json')]).then(function (answers) {
      drawSummary(answers[0]);
      drawUnits(answers[1]);
      said(fill(W.updated, answers[0].now));
    }).catch(function (e) { said(fill(W.refreshFailed, e.message)); }).then(function () {
      setTimeout(refresh, REFRESH_MS);
    });
  }

  drawSummary(data.summary);
  drawUnits(data.units);
  if (data.served) {
    said(fill(W.updated, data.summary.now));
    // A period that ended does not change: only today's page asks again.
    if (data.summary.live) setTimeout(refresh, REFRESH_MS);
  } else {
    said(fill(W.made, data.made));
  }
  document.body.setAttribute('data-ready', 'yes');
})();
