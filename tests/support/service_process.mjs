// The real Tillvane_se program for the Node-based tests: copied into a temporary folder with a
// configuration of the test's own (the text-file driver), started on a free port, and stopped.
import {spawn} from 'node:child_process';
import {copyFileSync, mkdtempSync, mkdirSync, readFileSync, writeFileSync, existsSync, rmSync} from 'node:fs';
import {createServer} from 'node:net';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

// ctest skips a test that exits with this code (SKIP_RETURN_CODE).
export const kSkipExitCode = 77;
const kStartTimeoutMs = 15000;
const kPollMs = 50;
const kPortAttempts = 5;

export async function freePort() {
  const server = createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const {port} = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

export async function waitFor(condition, timeoutMs, what) {
  const end = Date.now() + timeoutMs;
  while (!(await condition())) {
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, kPollMs));
  }
}

// Starts `program` with the text-file driver and `settings` (key=value lines); returns
// {port, dir, receipts, stop()}. Another process may take the port between the look-up and the
// start: then another port is tried.
export async function startService(program, settings = []) {
  const dir = mkdtempSync(join(tmpdir(), 'tillvane-node-'));
  const receipts = join(dir, 'receipts');
  mkdirSync(receipts);
  const copy = join(dir, 'Tillvane_se');
  copyFileSync(program, copy);
  const log = join(dir, 'Tillvane_se.log');
  for (let attempt = 0; attempt < kPortAttempts; ++attempt) {
    const port = await freePort();
    writeFileSync(join(dir, 'Tillvane_se.ini'), [
      'driverModel=SELLTEXT', `outputFolder=${receipts}`, `tcpPort=${port}`,
      'listenAddress=127.0.0.1', 'TVA_GROUPS=A:1', ...settings, ''].join('\n'));
    rmSync(log, {force: true});
    const child = spawn(copy, [], {cwd: dir, stdio: 'ignore'});
    let exited = false;
    child.on('exit', () => { exited = true; });
    const listening = `Web server listening on port ${port},`;
    const cannotListen = `Nu pot porni serverul web pe portul ${port}`;
    const readLog = () => (existsSync(log) ? readFileSync(log, 'latin1') : '');
    await waitFor(() => exited || readLog().includes(listening) || readLog().includes(cannotListen),
                  kStartTimeoutMs, 'the service to listen');
    if (!exited && readLog().includes(listening)) {
      const stop = async () => {
        if (exited) return;
        child.kill('SIGTERM');
        await waitFor(() => exited, kStartTimeoutMs, 'the service to stop');
      };
      return {port, dir, receipts, stop};
    }
    child.kill('SIGTERM');
    await waitFor(() => exited, kStartTimeoutMs, 'the service to stop');
  }
  throw new Error(`the service never listened:\n${readFileSync(log, 'latin1')}`);
}
