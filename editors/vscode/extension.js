// @ts-check
'use strict';
// The VS Code side of vorpex: starts the vorpex-lsp language server for vorpex BASIC documents,
// hands it the settings, and shows a document's converted output beside it.
const vscode = require('vscode');
const { LanguageClient, DidChangeConfigurationNotification } = require('vscode-languageclient/node');
const { serverCommand, serverSettings } = require('./settings');

const LANGUAGE = 'vorpex-basic';
const OUTPUT_SCHEME = 'vorpex-output';

/** @type {LanguageClient | undefined} */
let client;
/** @type {vscode.OutputChannel | undefined} */
let channel;

function currentSettings() {
  const config = vscode.workspace.getConfiguration('vorpex');
  return serverSettings(config.get('defines'), config.get('warnings'));
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
      middleware: { executeCommand: showOutputMiddleware(views) },
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
        (event.affectsConfiguration('vorpex.defines') || event.affectsConfiguration('vorpex.warnings'))
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
