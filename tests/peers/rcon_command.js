#!/usr/bin/env node
// Runs remote-console commands through the npm `rcon-client`, the client an operator would use.
//
//   node rcon_command.js --port P --password PW [--host 127.0.0.1] [--timeout 2000] command...
//
// Each command is one argument: quote a command with spaces ("setsvar ServerName Mine").
//
// Prints one JSON line per step: {"authenticated": true}, then {"command": "...", "reply": "..."} or
// {"command": "...", "error": "..."}; exits 0 when every command got a reply, 1 when one failed, 2 when
// the connection or the authentication failed ({"authenticated": false, "error": "authentication
// refused"} for a refused password). A command's reply is the first packet that answers it.
"use strict";

const USAGE = `Usage: node rcon_command.js --port P --password PW [--host 127.0.0.1] [--timeout 2000] command...

Runs each command (one argument each: quote a command with spaces, "setsvar ServerName Mine") in one
session of the server's remote console and prints one JSON line per step: {"authenticated": true},
then {"command": ..., "reply": ...} or {"command": ..., "error": ...}. Exits 0 when every command got
a reply, 1 when one failed, 2 when the connection or the authentication failed.
`;

// Asked for help, or given no port: the usage, before anything is loaded or connected.
const words = process.argv.slice(2);
const helpAsked = words[0] === "--help" || words[0] === "-h";
if (helpAsked || !words.includes("--port")) {
  (helpAsked ? process.stdout : process.stderr).write(USAGE);
  process.exit(helpAsked ? 0 : 2);
}

const path = require("path");
const clientFolder = path.join(__dirname, "node_modules", "rcon-client");
const { Rcon } = require(clientFolder);
const { decodePacket, PacketType } = require(path.join(clientFolder, "lib", "packet"));

// The server answers an authentication with an empty response and then its verdict, an
// authentication answer whose id is the request's, or -1 for a refused password. rcon-client takes
// the empty response for the verdict, so the real one is watched for here. `verdict` resolves true
// for accepted, false for refused, null when the connection ends or the time-out passes first;
// `refused` tells at once whether a refusal came.
function watchVerdict(rcon, timeout) {
  const watch = { refused: false };
  let settle;
  watch.verdict = new Promise((resolve) => {
    settle = resolve;
  });
  const handlePacket = rcon.handlePacket;
  rcon.handlePacket = function (data) {
    const packet = decodePacket(data);
    if (packet.type === PacketType.AuthResponse) {
      if (packet.id === -1) watch.refused = true;
      settle(packet.id !== -1);
    }
    return handlePacket.call(this, data);
  };
  rcon.on("end", () => settle(null));
  const timer = setTimeout(() => settle(null), timeout);
  watch.verdict.then(() => clearTimeout(timer));
  return watch;
}

function parseArguments(argv) {
  const options = { host: "127.0.0.1", port: 0, password: "", timeout: 2000, commands: [] };
  for (let i = 0; i < argv.length; i++) {
    const word = argv[i];
    if (word === "--host" || word === "--port" || word === "--password" || word === "--timeout") {
      options[word.slice(2)] = argv[++i];
    } else {
      options.commands.push(word);
    }
  }
  options.port = Number(options.port);
  options.timeout = Number(options.timeout);
  if (!["127.0.0.1", "::1", "localhost"].includes(options.host)) {
    throw new Error("the console is reached on loopback only");
  }
  return options;
}

function print(record) {
  process.stdout.write(JSON.stringify(record) + "\n");
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  const rcon = new Rcon({ host: options.host, port: options.port, password: options.password,
                          timeout: options.timeout });
  rcon.on("error", () => {});  // a reset after the server closes is reported by the pending send
  const watch = watchVerdict(rcon, options.timeout);
  let failure = null;
  try {
    await rcon.connect();
    const accepted = await watch.verdict;
    if (accepted !== true) failure = "no authentication answer";
  } catch (error) {
    failure = String(error.message || error);
  }
  if (watch.refused) failure = "authentication refused";
  if (failure !== null) {
    print({ authenticated: false, error: failure });
    if (rcon.socket) rcon.socket.destroy();
    return 2;
  }
  print({ authenticated: true });
  let status = 0;
  for (const command of options.commands) {
    try {
      print({ command, reply: await rcon.send(command) });
    } catch (error) {
      print({ command, error: String(error.message || error) });
      status = 1;
      break;
    }
  }
  try {
    await rcon.end();
  } catch (error) {
    // already closed by the server
  }
  return status;
}

main().then((status) => process.exit(status), (error) => {
  print({ error: String(error.message || error) });
  process.exit(2);
});
