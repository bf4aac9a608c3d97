'use strict';

// The one error class of the package; `code` says what went wrong (see the README's list).
class QuorinError extends Error {
  constructor(code, message, options) {
    super(message, options);
    this.name = 'QuorinError';
    this.code = code;
  }
}

// An error of the addon as a QuorinError: the addon gives its own a `code`.
function fromNative(error, fallbackCode = 'FAILED') {
  if (error instanceof QuorinError || error instanceof TypeError) return error;
  return new QuorinError(error.code ?? fallbackCode, error.message, { cause: error });
}

function callNative(call) {
  try {
    return call();
  } catch (error) {
    throw fromNative(error);
  }
}

// Strings reach the library as UTF-8 up to a NUL: a lone surrogate would change on the way
// and a NUL would cut the string short, so both are refused rather than stored altered.
function checkText(value, name) {
  if (typeof value !== 'string') {
    throw new TypeError(`${name} must be a string, not ${value === null ? 'null' : typeof value}`);
  }
  if (!value.isWellFormed() || value.includes('\0')) {
    throw new QuorinError('INVALID_ARGUMENT', `${name} holds a NUL or a lone surrogate`);
  }
}

module.exports = { QuorinError, fromNative, callNative, checkText };
