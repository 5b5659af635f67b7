// Before the loader: a failure to load or run the WebAssembly shows on the page, not only in
// the console (a page opened from file:// cannot fetch korva.wasm, for one).
var Module = typeof Module !== 'undefined' ? Module : {};
Module.onAbort = function (what) {
  if (typeof korvaShowError === 'function') korvaShowError('The player could not start: ' + what);
};
