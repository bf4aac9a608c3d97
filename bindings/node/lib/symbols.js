'use strict';
// The package's own hooks between its modules, out of the users' way.
module.exports = {
  CREATE: Symbol('quorin.create'),
  MIGRATE: Symbol('quorin.migrate'),
  OWNER: Symbol('quorin.owner'),
  RECEIVE: Symbol('quorin.receive'),
};
