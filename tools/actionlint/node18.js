// Loaded before the checker (node --require): Debian 12's Node is 18, and the checker is built
// for Node 20. Go's WebAssembly runtime inside it wants globalThis.crypto, which Node 18 has
// only behind a flag: this gives it node:crypto's. (Its chalk 5, an ES module Node 18 cannot
// require(), is pinned to chalk 4 in package.json, the same calls as CommonJS.)
globalThis.crypto ??= require('node:crypto').webcrypto;
