import quorin from './lib/index.js';

export const {
  version,
  libraryVersion,
  QuorinError,
  Client,
  Device,
  openDevice,
  postApplicationEvent,
  diagnostics,
} = quorin;
export default quorin;
