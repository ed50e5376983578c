# bash completion for docindex: options, code pages after --codepage, charsets after
# --charset, folders elsewhere.
_docindex() {
    local cur prev words cword
    _init_completion || return

    case $prev in
        --codepage)
            COMPREPLY=($(compgen -W '874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256
                1257 1258' -- "$cur"))
            return
            ;;
        --charset)
            COMPREPLY=($(compgen -W 'utf-8 windows-1250 windows-1251 windows-1252 windows-1253
                windows-1254 windows-1255 windows-1256 windows-1257 windows-1258 windows-874
                shift_jis gbk euc-kr big5' -- "$cur"))
            return
            ;;
        -h | --help | --version)
            return
            ;;
    esac

    # After "--" every argument is a folder.
    local i
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} == -- ]]; then
            _filedir -d
            return
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--write --recursive -r --empty --stdout --codepage
            --charset --escape-html --watch --quiet -q --help -h --version --' -- "$cur"))
        return
    fi
    _filedir -d
} &&
    complete -F _docindex docindex
