'use strict';
// Label `index` of batch `batch` for the batch tests: a numbered label (see
// numbered-label.js) whose number holds both, so every label of every batch
// differs. Shared by the test and the children it starts.
const { numberedLabel } = require('./numbered-label');

const mark = (batch, index, more = {}) => ({
  device: 'batch_q', instruction: 'ZPL', withCutter: false, width: 2, height: 1, buffer: numberedLabel(1000 * batch + index), ...more,
});

module.exports = { mark };
