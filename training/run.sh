#!/usr/bin/env bash
# Regenerates the training data and retrains the shipped recogniser: renders the pieces, trains, picks the
# decoding thresholds on the validation font and writes recognition/model/notes.nvm and the golden vectors
# of the C++ tests. Everything it makes besides those files stays in NOTAVOX_TRAINING_DIR (outside the
# repository); running it again resumes where it stopped.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(cd "$here/.." && pwd)"
work="${NOTAVOX_TRAINING_DIR:-$HOME/.cache/notavox-training}"
mkdir -p "$work"
bash "$top/scripts/install-training-deps.sh"
py=/usr/bin/python3
cd "$here"
start=$(date +%s)
# The features have three window lengths since the data of the first version ("data", "checkpoints"):
# the folders carry the version, so that nothing of the first one is taken for the second.
data="$work/data-v2"
ckpt="$work/checkpoints-v2"
$py -W ignore render.py "$data"
$py train.py "$data" "$ckpt"
$py evaluate.py "$data" "$ckpt/final.pt" --tune "$work/decode.json" | tee "$work/validation.txt"
$py export.py "$ckpt/final.pt" "$work/decode.json" "$top/recognition/model/notes.nvm" \
    "$top/tests/recognition" "$data"
echo "done in $(( ($(date +%s) - start) / 60 )) min; scores in $work/validation.txt"
