# bash completion for quimbel: its commands, their options, and the filters of the add-on folder,
# which the program itself lists (quimbel list --names). Installed as
# share/bash-completion/completions/quimbel, where bash-completion loads it on first use.

# The filter names of the add-on folder the command line being completed would use, one a line.
_quimbel_filter_names()
{
	local program=$1 addons=$2
	if [[ -n $addons ]]; then
		"$program" --addons "$addons" list --names 2>/dev/null
	else
		"$program" list --names 2>/dev/null
	fi
}

# Adds to COMPREPLY the filter names that start with $1, ignoring case as FILTER does, each
# quoted for the shell (display names hold spaces).
_quimbel_add_filters()
{
	local typed=${1//\\ / } addons=$2 name quoted
	while IFS= read -r name; do
		if [[ ${name,,} == "${typed,,}"* ]]; then
			printf -v quoted '%q' "$name"
			COMPREPLY+=("$quoted")
		fi
	done < <(_quimbel_filter_names "${COMP_WORDS[0]}" "$addons")
}

_quimbel()
{
	local cur=${COMP_WORDS[COMP_CWORD]}
	local prev=
	((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
	COMPREPLY=()

	local global='--addons --max-pixels --max-side --max-memory --in-process --timeout
		--compression --quality --lossless --no-auto-orient -q --quiet --version -h --help'
	local commands='list apply gallery info check'
	# Options that take a value, whose value is not a command or an argument.
	local valued='--addons|--max-pixels|--max-side|--max-memory|--timeout|--compression|--quality|-o|--output|--format|-j|--jobs|--icons|--then|--files-from'

	# The command, the number of arguments after it so far, and the add-on folder chosen.
	local command= arguments=0 addons= word i
	for ((i = 1; i < COMP_CWORD; i++)); do
		word=${COMP_WORDS[i]}
		if [[ $word == --addons ]]; then
			addons=${COMP_WORDS[i + 1]}
			((i++))
			continue
		fi
		if [[ $word == --addons=* ]]; then
			addons=${word#--addons=}
			continue
		fi
		if [[ $word == @($valued) ]]; then
			((i++))
			continue
		fi
		[[ $word == -* ]] && continue
		if [[ -z $command ]]; then
			command=$word
		else
			((arguments++))
		fi
	done

	case $prev in
	--addons | --icons | -o | --output)
		compopt -o filenames 2>/dev/null
		mapfile -t COMPREPLY < <(compgen -d -- "$cur")
		return
		;;
	--then)
		_quimbel_add_filters "$cur" "$addons"
		return
		;;
	--files-from)
		compopt -o filenames 2>/dev/null
		mapfile -t COMPREPLY < <(compgen -f -- "$cur")
		return
		;;
	--format)
		mapfile -t COMPREPLY < <(compgen -W 'png jpeg webp tiff avif' -- "$cur")
		return
		;;
	--max-pixels | --max-side | --max-memory | --timeout | --compression | --quality | -j | --jobs)
		return
		;;
	esac

	if [[ $cur == -* ]]; then
		local options=$global
		case $command in
		list) options+=' --json --names' ;;
		apply) options+=' --then -o --output --format -r --recursive --files-from -0 --null -n
			--dry-run -j --jobs -y --overwrite --strip' ;;
		gallery) options+=' -o --output -j --jobs -y --overwrite' ;;
		info) options+=' --icons -y --overwrite --json' ;;
		esac
		mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
		return
	fi

	if [[ -z $command ]]; then
		mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
		return
	fi

	case $command in
	apply)
		if ((arguments == 0)); then
			_quimbel_add_filters "$cur" "$addons"
			return
		fi
		;;
	info)
		_quimbel_add_filters "$cur" "$addons"
		;;
	list)
		return
		;;
	esac
	# Inputs, outputs and add-on files: file names.
	compopt -o filenames 2>/dev/null
	local file
	while IFS= read -r file; do
		COMPREPLY+=("$file")
	done < <(compgen -f -- "$cur")
}

complete -F _quimbel quimbel
