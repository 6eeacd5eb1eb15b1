# zsh -f zsh-complete.zsh FOLDER LINE WORD...: types LINE and Tab into an interactive zsh that
# loads the completions in FOLDER, and succeeds when every WORD shows among what it offers
# (waiting up to 30 seconds, for a loaded machine).
zmodload zsh/zpty
folder=$1 line=$2
shift 2
zpty shell zsh -f -i
zpty -w shell "PS1='> '; fpath=(${(q)folder} \$fpath); autoload -Uz compinit; compinit -u -D; setopt nobeep"
zpty -w -n shell "$line"$'\t'
seen=
for _ in {1..300}; do
    while zpty -r -t shell chunk; do seen+=$chunk; done
    missing=0
    for word in "$@"; do [[ $seen == *"$word"* ]] || missing=1; done
    (( missing )) || break
    sleep 0.1
done
zpty -d shell
for word in "$@"; do
    if [[ $seen != *"$word"* ]]; then
        print -r -- "zsh did not offer $word for: $line"
        exit 1
    fi
done
