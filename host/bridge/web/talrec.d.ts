// Types of talrec.js, the recorder control through the talrec browser extension (native
// messaging) or the `talrec serve` bridge. The members and
// events come from members.d.ts, generated from the control's member table.
import type {
  RecorderEventDetails,
  RecorderEventHandlers,
  RecorderMembers,
  RecorderState,
} from "./members.js";

export type { RecorderEventDetails, RecorderMembers, RecorderState };
export { State } from "./members.js";

/**
 * Why `connect` could not open a connection:
 * - "not-running": nothing answers at the bridge's address (start `talrec serve`, or enable
 *   `talrec.socket` once);
 * - "blocked": the browser refused the request to the loopback address: its permission to reach
 *   apps on this device is denied or not yet granted (it asks during a click);
 * - "not-paired": no token, an unknown one, or one whose pairing was revoked;
 * - "origin-not-allowed": the bridge accepts no page of this origin (an opaque "null" origin,
 *   a scheme other than http and https);
 * - "busy": the bridge has all its connections (64) taken, or the page its (8) through the
 *   extension;
 * - "extension-missing": `transport: "native"` was asked for, and the talrec extension is not
 *   installed or not enabled in this browser.
 * Over the extension, "not-running" means the recorder's browser host is not installed (`talrec
 * install-browser-host` writes its manifest) or could not start, and "not-paired" that the user denied
 * the origin on the extension's consent page.
 */
export type ConnectFailure =
  | "not-running"
  | "blocked"
  | "not-paired"
  | "origin-not-allowed"
  | "busy"
  | "extension-missing";

/**
 * An automation error of a call: the HRESULT (signed 32-bit) and its text; or, from `connect`,
 * why it failed: `reason` set, `hresult` -1, `description` a sentence a page can show.
 */
export class TalrecError extends Error {
  constructor(hresult: number, description: string, reason?: ConnectFailure);
  readonly hresult: number;
  readonly description: string;
  readonly reason?: ConnectFailure;
}

/** One plain file in the data folder. */
export interface DataFile {
  name: string;
  /** Bytes. */
  size: number;
  /** ISO 8601, UTC. */
  modified: string | null;
  /** Seconds, for WAV and WMA files; null when unknown. */
  duration: number | null;
}

export type RecorderEventMap = {
  [K in keyof RecorderEventDetails]: CustomEvent<RecorderEventDetails[K]>;
} & {
  /** A message box of the control, with its text. */
  MessageBox: CustomEvent<string>;
  /**
   * A failure the control does not report through its results or events (an input device that
   * does not open, a file that cannot be played, why a conversion failed), caused by this
   * connection's calls or devices: one line of text.
   */
  debug: CustomEvent<string>;
  /** The connection has closed; its control is gone. */
  close: CustomEvent<{ code: number; reason: string }>;
};

/** One control, through one connection: its members (RecorderMembers), events and files. */
export interface Recorder extends RecorderMembers, RecorderEventHandlers {}
export class Recorder extends EventTarget {
  /** Calls a member by name, or "#N" for dispatch id N. */
  call(method: string, ...params: Array<string | number | boolean | null>): Promise<unknown>;

  /** The data folder's plain files (over the bridge the token goes in the Authorization header). */
  listFiles(): Promise<DataFile[]>;
  /** A file of the data folder, its bytes as a Blob (over the extension read in chunks). */
  readFile(name: string): Promise<Blob>;
  /**
   * An address of a data-folder file for `<audio src>` or a download link. Over the bridge
   * (byte ranges served) it carries no token but a ticket that opens this one file for 60
   * seconds; ask again for a later use; `download: true` answers it as an attachment, which the
   * browser saves. Over the extension it is a `blob:` address of the file's bytes (`download`
   * has no effect: give the link a `download` attribute).
   */
  fileUrl(name: string, options?: { download?: boolean }): Promise<string>;
  /** Closes the connection; the control is destroyed. */
  close(): void;

  onMessageBox: ((text: string) => void) | null;
  onDebug: ((text: string) => void) | null;
  onClose: ((detail: { code: number; reason: string }) => void) | null;

  addEventListener<K extends keyof RecorderEventMap>(
    type: K,
    listener: (this: Recorder, event: RecorderEventMap[K]) => void,
    options?: boolean | AddEventListenerOptions,
  ): void;
  addEventListener(
    type: string,
    listener: EventListenerOrEventListenerObject | null,
    options?: boolean | AddEventListenerOptions,
  ): void;
  removeEventListener<K extends keyof RecorderEventMap>(
    type: K,
    listener: (this: Recorder, event: RecorderEventMap[K]) => void,
    options?: boolean | EventListenerOptions,
  ): void;
  removeEventListener(
    type: string,
    listener: EventListenerOrEventListenerObject | null,
    options?: boolean | EventListenerOptions,
  ): void;
}

export interface ConnectOptions {
  /**
   * "native": through the talrec extension (native messaging, no port open); "bridge": through
   * `talrec serve`. By default the extension when it is installed, else the bridge.
   */
  transport?: "native" | "bridge";
  /** Bridge: the origin's token from pairing, or the run's; defaults to the address's `#token=`. */
  token?: string;
  /** Bridge: its address, e.g. "http://127.0.0.1:47615"; defaults to the one that served talrec.js. */
  url?: string;
}

/**
 * Opens a connection: one new control, in-place activated, through the extension or the bridge
 * (ConnectOptions.transport). Over the bridge call it from a user gesture (a click): that is
 * when the browser asks its permission to reach the recorder on this device. Over the
 * extension an origin not yet allowed gets the extension's consent page (Allow / Deny) first.
 * Rejects with a TalrecError whose `reason` says why (ConnectFailure).
 */
export function connect(options?: ConnectOptions): Promise<Recorder>;

export interface PairOptions {
  /** The bridge, e.g. "http://127.0.0.1:47615"; defaults to the one that served talrec.js. */
  url?: string;
  /** Milliseconds to wait for the user's answer; 120000 by default. */
  timeout?: number;
}

/**
 * Asks the user, in a popup of the bridge's own, to pair this page's origin; call it from a
 * click. Resolves with the origin's token (keep it, e.g. in localStorage, and pass it to
 * connect()); rejects with a TalrecError whose `reason` is "denied" when the user denies, closes
 * the popup or does not answer within the timeout.
 */
export function pair(options?: PairOptions): Promise<string>;
