#!/usr/bin/env bash
# Creates the store's tables (as the store application would) under the given Ombrelin root.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
store="$1"
for table in REMISES Perso Message MessageType MesDocs MesDocsType; do
    sqlite3 "$store/Administration/$table.DB" < "$here/tables/$table.sql"
done
sqlite3 "$store/Maj/FOURNIS.db" < "$here/tables/FOURNIS.sql"
