// Types of talrec.js, the recorder control through the `talrec serve` bridge.

/** The state strings of RecorderStateNotify. */
export type RecorderState =
  | "record-start"
  | "record-pause"
  | "record-resume"
  | "record-stop"
  | "play-start"
  | "play-pause"
  | "play-resume"
  | "play-stop"
  | "play-complete";

/** An automation error of a call: the HRESULT (signed 32-bit) and its text. */
export class TalrecError extends Error {
  readonly hresult: number;
  readonly description: string;
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

export interface RecorderEventMap {
  EvtRecordTimeOut: CustomEvent<undefined>;
  EvtPlayStop: CustomEvent<undefined>;
  RecorderStateNotify: CustomEvent<RecorderState>;
  /** The input level while recording, 0 to 100. */
  VolumeStatus: CustomEvent<number>;
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
}

/** One control, through one connection. Methods resolve to the control's results. */
export class Recorder extends EventTarget {
  /** Result codes: 0 passed on, -1 no recorder or refused path or failed, -2 already recording. */
  SetPcmFormat(format: string): Promise<number>;
  RecordTimeOut(timeOut: number): Promise<number>;
  recStart(fullPathName: string): Promise<number>;
  /** "Succeeded" for 0, "Failed" otherwise. */
  GetErrorString(errorCode: number): Promise<string>;
  recStop(): Promise<number>;
  RecordTotalFileName(): Promise<string>;
  RecordFileName(): Promise<string>;
  playStart(fullPathName: string): Promise<number>;
  playStop(): Promise<number>;
  GetDataFolder(): Promise<string>;
  RecordStartFile(filePath: string): Promise<number>;
  RecordStop(): Promise<number>;
  RecPause(): Promise<number>;
  RecordContinue(): Promise<number>;
  RecordPause(): Promise<number>;
  PlayStartFile(filePath: string): Promise<number>;
  PlayStop(): Promise<number>;
  PlayPause(): Promise<number>;
  PlayContinue(): Promise<number>;
  ConvertWavToWMA(source: string, dest: string): Promise<number>;
  /** 0 when every file was deleted, 1 otherwise. */
  DeleteAudioFileALL(): Promise<number>;
  DeleteAudioFile(filePath: string): Promise<number>;

  /** The TempFolderPass property. */
  getTempFolderPass(): Promise<string>;
  setTempFolderPass(value: string): Promise<null>;

  /** Calls a member by name, or "#N" for dispatch id N. */
  call(method: string, ...params: Array<string | number | boolean | null>): Promise<unknown>;

  /** The data folder's plain files. */
  listFiles(): Promise<DataFile[]>;
  /** The address of a data-folder file (byte ranges served), with the token. */
  fileUrl(name: string): string;
  /** Closes the connection; the bridge destroys the control. */
  close(): void;

  onEvtRecordTimeOut: (() => void) | null;
  onEvtPlayStop: (() => void) | null;
  onRecorderStateNotify: ((state: RecorderState) => void) | null;
  onVolumeStatus: ((level: number) => void) | null;
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
  /** The run's token; defaults to the page address's `#token=`. */
  token?: string;
  /** The bridge, e.g. "http://127.0.0.1:47615"; defaults to the one that served talrec.js. */
  url?: string;
}

/** Opens a connection to the bridge: one new control, in-place activated. */
export function connect(options?: ConnectOptions): Promise<Recorder>;
