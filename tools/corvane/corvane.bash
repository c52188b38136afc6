# bash completion for corvane                              -*- shell-script -*-
# Installed as bash-completion/completions/corvane; works with or without the
# bash-completion package (it uses only bash's own compgen).

_corvane_options() {
    # The options of a command (and action), one per word.
    case "$1 $2" in
        "md5 "*) echo "-c --check --quiet --status -w --warn --strict --ignore-missing --tag -z --zero --progress -h --help" ;;
        "base64 "*) echo "-d --decode -i --ignore-garbage -w --wrap --web-safe --no-padding --progress -h --help" ;;
        "rsa encrypt") echo "--pubkey --modulus --exponent --message --raw --hex --lines --passphrase-file --passphrase-env -h --help" ;;
        "rsa decrypt") echo "--key --raw --hex --lines --passphrase-file --passphrase-env -h --help" ;;
        "rsa sign") echo "--key --message --raw --hex --lines --passphrase-file --passphrase-env -h --help" ;;
        "rsa recover") echo "--pubkey --modulus --exponent --raw --hex --passphrase-file --passphrase-env -h --help" ;;
        "rsa key")
            echo "--hex --text --private --outform --pkcs1 --pkcs8 --pass-out-file --pass-out-env" \
                "--pass-out-prompt --passphrase-file --passphrase-env -h --help"
            ;;
        "rsa keygen") echo "--bits --out --force --passphrase-file --passphrase-env --pass-prompt -h --help" ;;
        "des3 encrypt" | "des3 decrypt")
            echo "--key --key-hex --key-file --key-hex-file --key-env --key-hex-env" \
                "--iv --iv-hex --iv-file --iv-hex-file --iv-env --iv-hex-env --raw -q --quiet --progress" \
                "--pass-file --pass-env --pass-prompt --iter --md -h --help"
            ;;
        *) echo "-h --help" ;;
    esac
}

_corvane() {
    local cur="${COMP_WORDS[COMP_CWORD]}" prev="${COMP_WORDS[COMP_CWORD - 1]}"
    local command="${COMP_WORDS[1]}" action="${COMP_WORDS[2]}"
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        COMPREPLY=($(compgen -W "md5 base64 rsa des3 demo version -h --help --version" -- "$cur"))
        return
    fi
    if ((COMP_CWORD == 2)); then
        case "$command" in
            rsa) COMPREPLY=($(compgen -W "encrypt decrypt sign recover key keygen --help" -- "$cur")); return ;;
            des3) COMPREPLY=($(compgen -W "encrypt decrypt keygen --help" -- "$cur")); return ;;
        esac
    fi

    # The value of the option before the word.
    case "$prev" in
        --pubkey | --key | --out | --passphrase-file | --key-file | --key-hex-file | --iv-file | --iv-hex-file | \
            --pass-file | --pass-out-file)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --passphrase-env | --key-env | --key-hex-env | --iv-env | --iv-hex-env | --pass-env | --pass-out-env)
            COMPREPLY=($(compgen -e -- "$cur"))
            return
            ;;
        --bits) COMPREPLY=($(compgen -W "512 768 1024" -- "$cur")); return ;;
        --outform) COMPREPLY=($(compgen -W "pem der" -- "$cur")); return ;;
        --md) COMPREPLY=($(compgen -W "sha256 sha1 sha512 md5" -- "$cur")); return ;;
        --iter) return ;;
        -w | --wrap) COMPREPLY=($(compgen -W "0 64 76" -- "$cur")); return ;;
        --modulus | --exponent | --message | --key-hex | --iv-hex | --iv) return ;;
    esac

    if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$(_corvane_options "$command" "$action")" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}

complete -o filenames -F _corvane corvane
