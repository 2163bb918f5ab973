'use strict';
// The faults scripts/plant-faults.js plants, one at a time. Each names the
// files it may live in and a list of [find, replace] edits: the first whose
// `find` occurs exactly once is planted, so a fault survives code moving
// between files or changing shape if one of its alternatives still matches.
// Keep `find` short and about meaning, not layout.

const SRC = (...names) => names.map((n) => `src/${n}`);
const QUERY = SRC('printer/query.cpp');
const SUBMIT = SRC('instruction/base.cpp', 'instruction/submit.cpp', 'printer/submit.cpp', 'printer/job_file.cpp');
const READER = SRC('napi_utils.cpp', 'main.cpp', 'print_request.cpp');
const RASTER = SRC('instruction/raster.h', 'instruction/raster.cpp');
const STORED = SRC('instruction/stored_image.cpp', 'instruction/ppla.cpp', 'instruction/dpl.cpp');

module.exports = [
  // Log lines
  { id: 'log-found', file: QUERY, breaks: 'the found-printer log line',
    edits: [['平台: 找到匹配的打印机', '平台: 找到打印机']] },
  { id: 'log-final', file: QUERY, breaks: 'the final connection log line',
    edits: [['isConnected = %s', 'isConnected=%s']] },

  { id: 'log-release', file: SUBMIT, breaks: 'no option release line when CUPS refuses the job',
    edits: [['释放CUPS选项资源\\n");\n      options.release();\n    }\n    tracelog::line("[DEBUG] macOS平台: 删除临时文件\\n");\n    file.remove();',
      '\\n");\n      options.release();\n    }\n    tracelog::line("[DEBUG] macOS平台: 删除临时文件\\n");\n    file.remove();']] },

  // Reading the print request
  { id: 'read-order', file: READER, breaks: 'height is read before width',
    edits: [['GetInt32Property(env, options, "width", params.width) == napi_ok && params.width != 0 &&\n         GetInt32Property(env, options, "height", params.height) == napi_ok && params.height != 0',
      'GetInt32Property(env, options, "height", params.height) == napi_ok && params.height != 0 &&\n         GetInt32Property(env, options, "width", params.width) == napi_ok && params.width != 0'],
      ['GetInt32Property(env, options, at = "width", params.width) == napi_ok && params.width != 0 &&\n      GetInt32Property(env, options, at = "height", params.height) == napi_ok &&\n      params.height != 0 &&',
        'GetInt32Property(env, options, at = "height", params.height) == napi_ok &&\n      params.height != 0 &&\n      GetInt32Property(env, options, at = "width", params.width) == napi_ok && params.width != 0 &&']] },
  { id: 'refuse-zero-width', file: READER, breaks: 'a zero width is accepted',
    edits: [['&& params.width != 0', ''], ['params.width == 0', 'false']] },

  // The connection check
  { id: 'state-4', file: QUERY, breaks: 'processing (4) logs the default line',
    edits: [['state != 3 && state != 4', 'state != 3']] },
  { id: 'state-non-numeric', file: QUERY, breaks: 'a non-numeric state reads as idle',
    edits: [['std::atoi(stateText)', '(*stateText >= \'0\' && *stateText <= \'9\' ? std::atoi(stateText) : 3)']] },

  // The raw job
  { id: 'opt-orientation', file: SUBMIT, breaks: 'orientation-requested 4 instead of 3',
    edits: [['"orientation-requested", "3"', '"orientation-requested", "4"']] },
  { id: 'opt-number-up', file: SUBMIT, breaks: 'number-up 2 instead of 1',
    edits: [['"number-up", "1"', '"number-up", "2"']] },
  { id: 'opt-priority', file: SUBMIT, breaks: 'job-priority 50 instead of 100',
    edits: [['"job-priority", "100"', '"job-priority", "50"']] },
  { id: 'opt-media', file: SUBMIT, breaks: 'media other than Custom.Transverse',
    edits: [['"Custom.Transverse"', '"Custom.Portrait"']] },
  { id: 'document-format', file: SUBMIT, breaks: 'the job is not sent raw',
    edits: [['CUPS_FORMAT_RAW', 'CUPS_FORMAT_AUTO']] },
  { id: 'title', file: SUBMIT.concat(SRC('printer/print_request.h')), breaks: 'the job title',
    edits: [['"Qorvin"', '"Qorvin label"']] },
  { id: 'file-name', file: SUBMIT, breaks: 'the job file name pattern',
    edits: [['%02d%02d%02d_%d', '%02d%02d%02d%d']] },

  // Image preparation
  { id: 'gray-unfused', file: SRC('helper/pixel_rows.h'), breaks: 'the red term is added with two roundings',
    edits: [['std::fma(static_cast<double>(r), 0.299, t)', 'static_cast<double>(r) * 0.299 + t']] },
  { id: 'resize-columns-round', file: SRC('helper/pixel_rows.cpp'), breaks: 'columns are rounded, not truncated',
    edits: [['static_cast<double>(x) * scale)', 'static_cast<double>(x) * scale + 0.5)']] },
  { id: 'resize-rows-round', file: SRC('helper/label_image.cpp', 'helper/bmp_source.h'), breaks: 'rows are rounded, not truncated',
    edits: [['static_cast<double>(y) * scaleY)', 'static_cast<double>(y) * scaleY + 0.5)']] },
  { id: 'bmp-last-byte', file: SRC('helper/bmp_source.cpp', 'helper/bmp.cpp'), breaks: 'the last pixel may lie one byte past the input',
    edits: [['lastByte >= size', 'lastByte > size']] },

  // The 1-bit raster
  { id: 'raster-polarity', file: RASTER, breaks: 'TSPL and the others swap which bit prints',
    edits: [['dark == DarkBit::One ? 0xFF : 0x00', 'dark == DarkBit::Zero ? 0xFF : 0x00']] },
  { id: 'raster-filler', file: RASTER, breaks: 'filler bits past the width are not cleared',
    edits: [['(bits ^ flip) & restMask', 'bits ^ flip']] },
  { id: 'raster-row-order', file: RASTER, breaks: 'the bottom row is sent first',
    edits: [['uint64_t(height - 1 - r) * stride', 'uint64_t(r) * stride'], ['uint64_t(g.height - 1 - r) * g.stride', 'uint64_t(r) * g.stride']] },
  { id: 'raster-bounds', file: RASTER, breaks: 'an image one row short is read past its end',
    edits: [['/ stride < uint64_t(height)', '/ stride + 1 < uint64_t(height)'],
      ['/ stride >= static_cast<uint64_t>(height)', '/ stride + 1 >= static_cast<uint64_t>(height)']] },

  // Each language's header
  { id: 'tspl-size-mm', file: SRC('instruction/tspl.cpp'), breaks: 'TSPL SIZE in dots, not millimetres',
    edits: [['appendNumber(out, params.width);', 'appendNumber(out, width);'], ['appendNumber(out, request.width);', 'appendNumber(out, g.width);']] },
  { id: 'zpl-home', file: SRC('instruction/zpl.cpp'), breaks: 'ZPL label home 0,1',
    edits: [['^LH0,0', '^LH0,1']] },
  { id: 'cpcl-resolution', file: SRC('instruction/cpcl.cpp'), breaks: 'CPCL header resolution 203',
    edits: [['"! 0 200 200 "', '"! 0 203 203 "']] },
  { id: 'escpos-mode', file: SRC('instruction/esc_pos.cpp'), breaks: 'ESC/POS GS v 0 in double-width mode',
    edits: [['0x1D, 0x76, 0x30, 0x00', '0x1D, 0x76, 0x30, 0x01']] },
  { id: 'escpos-16-bit', file: SRC('instruction/esc_pos.cpp'), breaks: 'a height of 65536 wraps in the header',
    edits: [['static_cast<uint32_t>(height) > 0xFFFF', 'static_cast<uint32_t>(height) > 0x10000'], ['height > 0xFFFF', 'height > 0x10000']] },
  { id: 'ppla-line-end', file: STORED, breaks: 'PPLA lines end in CR only',
    edits: [['LineEnd::CrLf ? "\\r\\n" : "\\r"', 'LineEnd::CrLf ? "\\r" : "\\r"']] },
  { id: 'dpl-line-end', file: STORED, breaks: 'DPL lines end in CR LF',
    edits: [['LineEnd::CrLf ? "\\r\\n" : "\\r"', 'LineEnd::CrLf ? "\\r\\n" : "\\r\\n"']] },

  // Units and the resolution
  { id: 'pad-with-zeros', file: SRC('instruction/base.cpp', 'instruction/units.cpp', 'instruction/stored_image.cpp'),
    breaks: 'zeros padded on the right',
    edits: [["text.insert(0, static_cast<size_t>(width) - text.size(), '0')", "text.append(static_cast<size_t>(width) - text.size(), '0')"]] },
  { id: 'mm-to-inch', file: SRC('instruction/base.cpp', 'instruction/units.cpp'), breaks: 'mmToInch divides by 25',
    edits: [['/ 25.4f', '/ 25.0f']] },
  { id: 'dot-factor-300', file: SRC('instruction/base.h', 'instruction/base.cpp', 'instruction/units.h', 'instruction/resolution.h'),
    breaks: '12 dots/mm from 300 dpi up, not at exactly 300',
    edits: [['dpi == 300 ? 12 : 8', 'dpi >= 300 ? 12 : 8']] },
  { id: 'dpi-first-wins', file: SUBMIT.concat(SRC('printer/resolution.cpp', 'printer/queue_resolution.cpp')), breaks: 'the first matching instance wins',
    edits: [['if (std::strcmp(dest.name, params.device.c_str()) != 0) continue;', 'if (defaultsLoaded || std::strcmp(dest.name, params.device.c_str()) != 0) continue;'],
      ['if (std::strcmp(dest.name, device.c_str()) != 0) continue;', 'if (found || std::strcmp(dest.name, device.c_str()) != 0) continue;']] },

  // The CUPS connection, the one-queue lookup, the job file's numbers
  { id: 'timeout-from-env', file: SRC('printer/cups_connection.cpp'), breaks: 'TRACE_LABEL_CUPS_TIMEOUT is ignored',
    edits: [['return seconds > 86400 ? 86400 : seconds;', 'return kDefaultTimeout;']] },
  { id: 'timeout-progress', file: SRC('printer/cups_connection.cpp'), breaks: 'an upload that keeps moving is cut',
    edits: [['(watch.revents & POLLIN) != 0 || (after >= 0 && after < before)', '(watch.revents & POLLIN) != 0']] },
  { id: 'finish-needs-answer', file: SRC('printer/cups_job.cpp'), breaks: 'a document whose answer never came reads as printed',
    edits: [['return answer != nullptr && cupsLastError() == IPP_STATUS_OK;', 'return cupsLastError() == IPP_STATUS_OK;']] },
  { id: 'queue-name-case', file: SRC('printer/cups_dests.cpp'), breaks: 'queue names compared with their case',
    edits: [["const int ca = la >= 'A' && la <= 'Z' ? la + 32 : la;", 'const int ca = la;']] },
  { id: 'job-number-fork', file: SRC('printer/job_file.cpp'), breaks: 'a forked child draws its parent\'s numbers',
    edits: [['numbers.seededIn != getpid()', 'numbers.seededIn == 0']] },
  { id: 'zpl-field-limit', file: SRC('instruction/zpl.cpp'), breaks: 'a ^GF field of 100,000 bytes',
    edits: [['kMaxFieldBytes = 99999;', 'kMaxFieldBytes = 100000;']] },

  // The async calls and the logger
  { id: 'logger-null-silent', file: SRC('logger.cpp'), breaks: 'setLogger(null) still writes to standard output',
    edits: [['if (!choice.silent && choice.function == nullptr) return nullptr;', 'if (choice.function == nullptr) return nullptr;']] },
  { id: 'async-order', file: ['lib/native-worker.js', 'src/engine.cpp'], breaks: 'later calls overtake pending ones',
    edits: [['worker.postMessage({ id, fn, args }, transfer);', "setTimeout(() => worker.postMessage({ id, fn, args }, transfer), fn === 'printTraceCode' ? 20 : 0);"],
      ['shared->queue.push_back(std::move(entry));', 'shared->queue.push_front(std::move(entry));']] },
];
