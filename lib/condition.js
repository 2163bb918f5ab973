'use strict';
// A queue's condition in plain words, from the three fields the scheduler
// gives: printer-state, printer-state-reasons and printer-state-message. An
// app asks "can it print, and if not, what should a person do?" without
// knowing IPP's keywords or its -error/-warning/-report suffixes.

// Reasons that stop labels coming out until a person acts (RFC 8011 and the
// PWG's registry). The -low, -near-empty and similar reports are not among
// them: labels still come out.
const NEEDS_PERSON = new Set([
  'media-empty',
  'media-needed',
  'media-jam',
  'media-path-jam',
  'door-open',
  'cover-open',
  'interlock-open',
  'input-tray-missing',
  'output-tray-missing',
  'output-area-full',
  'marker-supply-empty',
  'marker-supply-missing',
  'marker-waste-full',
  'toner-empty',
  'developer-empty',
  'spool-area-full',
  'paused',
  'moving-to-paused',
]);

// Reasons that say the device cannot be reached.
const UNREACHABLE = new Set(['offline', 'shutdown', 'timed-out', 'connecting-to-device']);

// What CUPS's network backends (ipp, socket, lpd) say while they cannot reach
// the device; they set no reason keyword for it.
const UNREACHABLE_MESSAGE =
  /may not exist or is unavailable|unable to (connect|locate)|not responding|unreachable|connection refused|waiting for (the )?printer to become available|network host .* is busy/i;

const bare = (reason) => reason.replace(/-(error|warning|report)$/, '');

// { condition, problems } for a PrinterInfo's raw fields.
function describeCondition({ state, stateReasons = [], stateMessage = '' }) {
  const problems = [];
  const add = (keyword) => problems.includes(keyword) || problems.push(keyword);
  for (const reason of stateReasons) {
    const keyword = bare(reason);
    if (NEEDS_PERSON.has(keyword) || UNREACHABLE.has(keyword)) add(keyword);
  }
  // A message left over from an earlier job means nothing on an idle queue.
  if (state !== 'idle' && UNREACHABLE_MESSAGE.test(stateMessage)) add('offline');

  let condition;
  if (state === 'stopped') condition = 'stopped';
  else if (problems.some((p) => UNREACHABLE.has(p))) condition = 'offline';
  else if (problems.length) condition = 'needs-attention';
  else condition = state === 'processing' ? 'printing' : 'ready';
  return { condition, problems };
}

// The record with condition and problems added after the raw fields.
const withCondition = (printer) => printer && { ...printer, ...describeCondition(printer) };

module.exports = { describeCondition, withCondition };
