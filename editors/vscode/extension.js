// @ts-check
'use strict';
// The VS Code side of vorpex: starts the vorpex-lsp language server for vorpex BASIC documents,
// hands it the settings, and shows a document's converted output beside it.
const vscode = require('vscode');
const { LanguageClient, DidChangeConfigurationNotification } = require('vscode-languageclient/node');
const { serverCommand, serverSettings } = require('./settings');
const renumbering = require('./renumber');

const LANGUAGE = 'vorpex-basic';
const OUTPUT_SCHEME = 'vorpex-output';

/** @type {LanguageClient | undefined} */
let client;
/** @type {vscode.OutputChannel | undefined} */
let channel;

function currentSettings() {
  const config = vscode.workspace.getConfiguration('vorpex');
  return serverSettings(config.get('defines'), config.get('warnings'), config.get('renumber.largestLine'));
}

/** The converted output of each source shown so far, by the address of its output view. */
class OutputViews {
  constructor() {
    /** @type {Map<string, string>} */
    this.texts = new Map();
    this.changed = new vscode.EventEmitter();
    this.onDidChange = this.changed.event;
  }

  /** @param {vscode.Uri} uri */
  provideTextDocumentContent(uri) {
    return this.texts.get(uri.toString()) ?? '';
  }

  /**
   * @param {vscode.Uri} source
   * @param {string} output
   */
  async show(source, output) {
    const uri = vscode.Uri.from({ scheme: OUTPUT_SCHEME, path: `${source.path}.out`, query: source.toString() });
    this.texts.set(uri.toString(), output);
    this.changed.fire(uri);
    const document = await vscode.workspace.openTextDocument(uri);
    await vscode.languages.setTextDocumentLanguage(document, LANGUAGE);
    await vscode.window.showTextDocument(document, {
      viewColumn: vscode.ViewColumn.Beside,
      preserveFocus: true,
      preview: true,
    });
  }
}

/**
 * The server's command `vorpex.showOutput` (offered by the server and registered by the client):
 * run from the palette it gets the active document, and its result is shown beside it. When the
 * command returns no output, the `vorpex/output` request is asked instead.
 * @param {OutputViews} views
 * @returns {import('vscode-languageclient').Middleware['executeCommand']}
 */
function showOutputMiddleware(views) {
  return async (command, args, next) => {
    if (command !== 'vorpex.showOutput') return next(command, args);
    const editor = vscode.window.activeTextEditor;
    const source = args.length > 0 ? vscode.Uri.parse(String(args[0])) : editor?.document.uri;
    if (!source || (args.length === 0 && editor?.document.languageId !== LANGUAGE)) {
      void vscode.window.showInformationMessage('vorpex: open a vorpex BASIC document to see its output.');
      return undefined;
    }
    let result = await next(command, args.length > 0 ? args : [source.toString()]);
    if (typeof result?.output !== 'string' && client) {
      result = await client.sendRequest('vorpex/output', { textDocument: { uri: source.toString() } });
    }
    if (typeof result?.output === 'string') await views.show(source, result.output);
    return result;
  };
}

/**
 * Asks for a number in an input box; undefined when the box is dismissed.
 * @param {string} prompt
 * @param {string} value
 * @param {number} least
 * @param {boolean} [optional]
 */
function askNumber(prompt, value, least, optional = false) {
  return vscode.window.showInputBox({
    title: 'vorpex',
    prompt,
    value,
    validateInput: (text) => renumbering.numberProblem(text, least, optional),
  });
}

/**
 * The server's commands `vorpex.renumber` and `vorpex.moveLines`: run from the palette (or from a
 * code action that names only the lines) they ask for the start and the step, or for the line to
 * move after, and take the selected lines of the active document (all of them when nothing is
 * selected). The server answers with one edit of the document; a refusal is shown as an error,
 * and the jumps it left as they were (computed, or to a missing line) as a warning.
 * @param {string} command
 * @param {unknown[]} args
 * @param {(command: string, args: unknown[]) => Promise<unknown>} next
 */
async function renumberCommand(command, args, next) {
  if (!renumbering.complete(command, args)) {
    const given = /** @type {{ uri?: string, range?: any } | string | undefined} */ (args[0]);
    const editor = vscode.window.activeTextEditor;
    let uri = typeof given === 'string' ? given : typeof given?.uri === 'string' ? given.uri : undefined;
    let range = typeof given === 'object' ? given?.range : undefined;
    if (!uri) {
      if (!editor || editor.document.languageId !== LANGUAGE) {
        void vscode.window.showInformationMessage('vorpex: open a vorpex BASIC document to renumber its lines.');
        return undefined;
      }
      uri = editor.document.uri.toString();
      const document = editor.document;
      range = renumbering.linesOfSelection(editor.selection, (line) => document.lineAt(line).text.length);
    }
    const which = range ? 'the selected lines' : 'every line';
    /** @type {{ start?: string, step?: string, target?: string }} */
    const typed = {};
    if (command === renumbering.MOVE_LINES) {
      if (!range) {
        void vscode.window.showInformationMessage('vorpex: select the lines to move first.');
        return undefined;
      }
      typed.target = await askNumber('Move the selected lines after line (0: before the first line)', '', 0);
      if (typed.target === undefined) return undefined;
      typed.step = await askNumber('Step between their new numbers (empty: the most that fits, up to 10)', '', 1, true);
    } else {
      typed.start = await askNumber(`Renumber ${which} from`, '10', 0);
      if (typed.start === undefined) return undefined;
      typed.step = await askNumber('Step between line numbers', '10', 1);
    }
    if (typed.step === undefined) return undefined;
    const pastComputed = vscode.workspace.getConfiguration('vorpex').get('renumber.leaveComputedJumps');
    args = [renumbering.commandArgument(command, uri, range, typed, pastComputed)];
  }
  try {
    const result = /** @type {{ warnings?: { message?: string, range?: { start?: { line?: number } } }[] } | undefined} */ (
      await next(command, args)
    );
    const left = renumbering.warningsText(result?.warnings);
    if (left) void vscode.window.showWarningMessage(`vorpex: left as they were: ${left}`);
    return result;
  } catch (error) {
    void vscode.window.showErrorMessage(`vorpex: ${error instanceof Error ? error.message : String(error)}`);
    return undefined;
  }
}

/**
 * The client's handling of the server's commands.
 * @param {OutputViews} views
 * @returns {import('vscode-languageclient').Middleware['executeCommand']}
 */
function commandMiddleware(views) {
  const showOutput = /** @type {NonNullable<ReturnType<typeof showOutputMiddleware>>} */ (showOutputMiddleware(views));
  return async (command, args, next) => {
    if (command === renumbering.RENUMBER || command === renumbering.MOVE_LINES) {
      return renumberCommand(command, args, next);
    }
    return showOutput(command, args, next);
  };
}

/** @param {OutputViews} views */
async function startClient(views) {
  const config = vscode.workspace.getConfiguration('vorpex');
  const folder = vscode.workspace.workspaceFolders?.[0]?.uri.fsPath;
  const command = serverCommand(config.get('server.path'), folder);
  channel ??= vscode.window.createOutputChannel('vorpex');
  client = new LanguageClient(
    'vorpex',
    'vorpex',
    { command, options: folder ? { cwd: folder } : {} },
    {
      documentSelector: [
        { scheme: 'file', language: LANGUAGE },
        { scheme: 'untitled', language: LANGUAGE },
      ],
      initializationOptions: currentSettings(),
      outputChannel: channel,
      middleware: { executeCommand: commandMiddleware(views) },
    },
  );
  try {
    await client.start();
  } catch (error) {
    const reason = error instanceof Error ? error.message : String(error);
    client = undefined;
    const choice = await vscode.window.showErrorMessage(
      `vorpex: the language server '${command}' could not be started (${reason}). ` +
        'Install vorpex-lsp on the PATH or set vorpex.server.path.',
      'Open Settings',
    );
    if (choice) await vscode.commands.executeCommand('workbench.action.openSettings', 'vorpex.server.path');
  }
}

async function stopClient() {
  const running = client;
  client = undefined;
  if (running) await running.stop().catch(() => undefined);
}

/** @param {vscode.ExtensionContext} context */
async function activate(context) {
  const views = new OutputViews();
  context.subscriptions.push(
    vscode.workspace.registerTextDocumentContentProvider(OUTPUT_SCHEME, views),
    vscode.commands.registerCommand('vorpex.restartServer', async () => {
      await stopClient();
      await startClient(views);
    }),
    vscode.workspace.onDidChangeConfiguration(async (event) => {
      if (event.affectsConfiguration('vorpex.server.path')) {
        await stopClient();
        await startClient(views);
      } else if (
        client &&
        (event.affectsConfiguration('vorpex.defines') ||
          event.affectsConfiguration('vorpex.warnings') ||
          event.affectsConfiguration('vorpex.renumber.largestLine'))
      ) {
        await client.sendNotification(DidChangeConfigurationNotification.type, { settings: currentSettings() });
      }
    }),
  );
  await startClient(views);
}

function deactivate() {
  return stopClient();
}

module.exports = { activate, deactivate };
