#!/bin/sh
# Signs a set of head-office files for the stores: writes quorvane.manifest (the set's
# generation, its expiry and sha256sum's lines for the head-office files found in FOLDER) and
# its minisign signature quorvane.manifest.minisig beside them. Needs only sha256sum and
# minisign. Publish the files first, then the signature and the manifest.
#
#   tools/publish-manifest.sh -s SECRET_KEY [-g GENERATION] [-d DAYS | -e EXPIRE] FOLDER
#
#   -s  the head office's minisign secret key (minisign -G makes it; asks for its password)
#   -g  the generation; by default one more than the manifest already in FOLDER (1 without one)
#   -d  days the set stays usable from now (default 8); -e gives the UTC expiry itself,
#       as YYYY-MM-DDTHH:MM:SSZ
set -eu

usage() {
    echo "usage: $0 -s SECRET_KEY [-g GENERATION] [-d DAYS | -e EXPIRE] FOLDER" >&2
    exit 2
}

key='' generation='' days=8 expire=''
while getopts s:g:d:e: option; do
    case $option in
        s) key=$OPTARG ;;
        g) generation=$OPTARG ;;
        d) days=$OPTARG ;;
        e) expire=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
if [ $# -ne 1 ] || [ -z "$key" ]; then usage; fi
folder=$1
manifest=$folder/quorvane.manifest

if [ -z "$generation" ]; then
    previous=$(sed -n 's/^generation \([0-9][0-9]*\)\r*$/\1/p' "$manifest" 2>/dev/null || true)
    generation=$(( ${previous:-0} + 1 ))
fi
case $generation in
    '' | *[!0-9]*) echo "$0: the generation must be a whole number" >&2; exit 2 ;;
esac
if [ -z "$expire" ]; then
    expire=$(date -u -d "+$days days" +%Y-%m-%dT%H:%M:%SZ)
fi
case $expire in
    [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z) ;;
    *) echo "$0: the expiry must read YYYY-MM-DDTHH:MM:SSZ" >&2; exit 2 ;;
esac

files=
for name in remise_achat.xml personnalisation.xml message.xml message_type.xml mes_docs.xml \
    mes_docs_type.xml; do
    [ -f "$folder/$name" ] && files="$files $name"
done
[ -n "$files" ] || { echo "$0: no head-office file in $folder" >&2; exit 1; }

# Written beside the manifest and renamed in, so a half-written one is never published.
temporary=$folder/.quorvane.manifest.$$
trap 'rm -f "$temporary" "$temporary.minisig"' EXIT
{
    echo "generation $generation"
    echo "expire $expire"
    # shellcheck disable=SC2086 # the names hold no blank
    (cd "$folder" && sha256sum -- $files)
} >"$temporary"
minisign -S -s "$key" -m "$temporary" -x "$temporary.minisig" \
    -t "quorvane.manifest generation $generation expire $expire"
mv -f "$temporary.minisig" "$manifest.minisig"
mv -f "$temporary" "$manifest"
echo "generation $generation, expire $expire:$files"
