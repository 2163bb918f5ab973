// A private, throw-away CUPS scheduler (the system's own cupsd, on a socket in
// a temporary folder) with virtual label printers that keep every job they
// receive. For trying the package without a printer, and for an app's tests.

/** One job a virtual printer received. */
export interface CapturedJob {
  id: number;
  /** The bytes the printer would have received. */
  data: Buffer;
  title: string;
  copies: number;
  options: string;
  type: string;
}

export declare class PrivateCups {
  /**
   * Starts cupsd with the given raw queues. Throws naming the Debian packages
   * to install when cupsd, lpadmin or lpstat is missing.
   * jobHistory: false makes the scheduler forget a job once it has ended.
   */
  static start(options?: { queues?: string[]; jobHistory?: boolean }): Promise<PrivateCups>;
  /** process.env with CUPS_SERVER (the socket), CUPS_CAPTURE_DIR and HOME set for this scheduler. */
  readonly env: NodeJS.ProcessEnv;
  readonly socket: string;
  readonly captureDir: string;
  addQueue(name: string): void;
  removeQueue(name: string): void;
  disable(name: string): void;
  reject(name: string): void;
  /** The jobs queue `queue` has received so far, oldest first. */
  jobs(queue: string): CapturedJob[];
  job(queue: string, id: number): CapturedJob;
  /** Resolves with the first `count` jobs of `queue`; rejects once none arrives for `stallMs`. */
  waitForJobs(queue: string, count: number, stallMs?: number): Promise<CapturedJob[]>;
  /** Stops cupsd and removes its folder. */
  stop(): void;
}

/** The paths of cupsd, lpadmin and lpstat; throws naming the packages that are missing. */
export declare function requireTools(): Record<string, string>;
