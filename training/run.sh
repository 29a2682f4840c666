#!/usr/bin/env bash
# Regenerates the training data and retrains the shipped recogniser: renders the pieces, trains, picks the
# decoding thresholds on the training fonts and writes recognition/model/notes.nvm and the golden vectors
# of the C++ tests. Everything it makes besides those files stays in NOTAVOX_TRAINING_DIR (outside the
# repository); running it again resumes where it stopped. Each stage's time goes to the log.
set -euo pipefail

# The whole script is read before it runs, so that editing it during a run of several hours is safe.
main() {
    local here top work py start stage data ckpt
    here="$(cd "$(dirname "$0")" && pwd)"
    top="$(cd "$here/.." && pwd)"
    work="${NOTAVOX_TRAINING_DIR:-$HOME/.cache/notavox-training}"
    mkdir -p "$work"
    bash "$top/scripts/install-training-deps.sh"
    py=/usr/bin/python3
    cd "$here"
    start=$(date +%s)
    stage=$start
    lap() {
        local now
        now=$(date +%s)
        echo "[$(date '+%F %T')] $1: $(( (now - stage) / 60 )) min"
        stage=$now
    }
    # The folders carry the version of the data and the network (v3: the real pieces, wider layers), so
    # that nothing of an earlier version is taken for this one.
    data="$work/data-v3"
    ckpt="$work/checkpoints-v3"
    $py -W ignore render.py "$data"
    lap "rendering"
    # The network starts from the previous version's weights (base-v2.nvm), widened to the new layers.
    $py train.py "$data" "$ckpt" --widen "$here/base-v2.nvm" --steps "${NOTAVOX_TRAIN_STEPS:-1800}" --lr 1e-3
    lap "training"
    $py -W ignore evaluate.py "$data" "$ckpt/final.pt" --tune "$work/decode.json" | tee "$work/validation.txt"
    lap "validation"
    $py export.py "$ckpt/final.pt" "$work/decode.json" "$top/recognition/model/notes.nvm" \
        "$top/tests/recognition" "$data"
    lap "export"
    echo "done in $(( ($(date +%s) - start) / 60 )) min; scores in $work/validation.txt"
}

main "$@"
