// The private scheduler as an app's test would use it (compiled, never run).
import { PrivateCups, CapturedJob } from 'trace-label-printer/private-cups';

export async function printsOne(print: (env: NodeJS.ProcessEnv) => void): Promise<CapturedJob> {
  const cups = await PrivateCups.start({ queues: ['lab'] });
  try {
    print(cups.env);
    const [job] = await cups.waitForJobs('lab', 1);
    const bytes: Buffer = job.data;
    // @ts-expect-error: a job id is a number
    const id: string = job.id;
    return bytes.length > 0 && id ? job : job;
  } finally {
    cups.stop();
  }
}
// @ts-expect-error: queues are names
PrivateCups.start({ queues: [1] });
