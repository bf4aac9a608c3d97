import { EventEmitter } from 'node:events';

/** The package's version. */
export const version: string;
/** The library's QuorinNativeVersionString, as it holds it. */
export const libraryVersion: string;

export type QuorinErrorCode =
  | 'INVALID_OPTIONS'
  | 'RELATIVE_CONTAINER'
  | 'FAILED'
  | 'UNUSABLE_CONTAINER'
  | 'UNUSABLE_CLOUD_ACCOUNT'
  | 'INVALID_ARGUMENT'
  | 'DISPOSED'
  | 'UNKNOWN_EVENT'
  | 'WRONG_THREAD';

export class QuorinError extends Error {
  readonly code: QuorinErrorCode;
}

export interface DeviceOptions {
  /** The device's container directory, an absolute path. */
  container: string;
  /** A directory, or a redis://, rediss:// or unix:// URL with ?account=NAME. */
  cloudAccount?: string | null;
  /** The application's Info.plist, an absolute path. */
  infoPlist?: string | null;
  keyStore?: 'secret-service' | 'key-file' | null;
  /** The host's own 32-byte key; not together with keyStore. */
  keychainKey?: Uint8Array | null;
}

export interface CloudChange {
  keys: string[];
  /** 0 another device wrote, 1 first sync, 2 over the quota, 3 another account. */
  reason: 0 | 1 | 2 | 3;
}

export type ApplicationEvent = 'foreground' | 'background' | 'active' | 'resign';

export class Device {
  private constructor();
  client(): Client;
}

export class Client extends EventEmitter {
  private constructor();
  readonly deviceModel: string;
  readonly osVersion: string;
  readonly buildNumber: string;
  readonly isTablet: boolean;
  readonly languageWithRegion: string;
  readonly idfa: string | null;
  readonly idfv: string | null;
  readonly encodedDeviceIdentifier: string;
  readonly storeCountry: string | null;
  readonly disposed: boolean;
  isApplicationInstalled(scheme: string): boolean;

  keychainGet(key: string): Promise<string | null>;
  keychainSet(key: string, value: string): Promise<void>;
  keychainRemove(key: string): Promise<void>;
  clearKeychains(): Promise<void>;

  cloudGet(key: string, options?: { signal?: AbortSignal }): Promise<string | null>;
  cloudSet(key: string, value: string): Promise<void>;
  cloudRemove(key: string): Promise<void>;

  collectMigrationData(): Promise<string | null>;
  clearDataAfterMigration(): Promise<void>;

  dispose(): void;
  [Symbol.dispose](): void;

  on(event: ApplicationEvent, listener: () => void): this;
  on(event: 'cloudChange', listener: (change: CloudChange) => void): this;
  on(event: string | symbol, listener: (...args: any[]) => void): this;
  once(event: ApplicationEvent, listener: () => void): this;
  once(event: 'cloudChange', listener: (change: CloudChange) => void): this;
  once(event: string | symbol, listener: (...args: any[]) => void): this;
}

export function openDevice(options: DeviceOptions): Device;
export function postApplicationEvent(name: ApplicationEvent): void;

/** Emits 'line' with each of the library's diagnostic lines. */
export const diagnostics: EventEmitter;

declare const quorin: {
  version: typeof version;
  libraryVersion: typeof libraryVersion;
  QuorinError: typeof QuorinError;
  Client: typeof Client;
  Device: typeof Device;
  openDevice: typeof openDevice;
  postApplicationEvent: typeof postApplicationEvent;
  diagnostics: typeof diagnostics;
};
export default quorin;
