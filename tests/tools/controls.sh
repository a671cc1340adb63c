#!/usr/bin/env bash
# controls.sh FORM=SOURCE...: the control tables of the forms, as the probe and
# the tests read them: one line "FORM NAME LEFT TOP WIDTH HEIGHT MARGIN SPACING"
# per control, with positions relative to the form (a control inside a group
# box gets the box's offset); MARGIN and SPACING place a picture button's glyph
# and caption (-1 and 4 unless the table says otherwise).
# The tables are read from the forms' sources, so the probe never keeps a copy.
set -eu
for pair in "$@"; do
    form=${pair%%=*}
    file=${pair#*=}
    tr '\n' ' ' <"$file" | awk -v form="$form" '
        {
            start = index($0, "ControlDef k")
            if (!start) { print "no control table in " FILENAME > "/dev/stderr"; exit 1 }
            text = substr($0, start)
            text = substr(text, 1, index(text, "};"))
            n = split(text, parts, /\{ *\.name *= *"/)
            for (i = 2; i <= n; i++) {
                e = parts[i]
                name = substr(e, 1, index(e, "\"") - 1)
                parent[name] = field(e, "parent", 1)
                left[name] = field(e, "left", 0); top[name] = field(e, "top", 0)
                width[name] = field(e, "width", 0); height[name] = field(e, "height", 0)
                margin[name] = field(e, "margin", 0, -1); spacing[name] = field(e, "spacing", 0, 4)
                order[++count] = name
            }
            for (i = 1; i <= count; i++) {
                name = order[i]; x = left[name]; y = top[name]
                for (p = parent[name]; p != ""; p = parent[p]) { x += left[p]; y += top[p] }
                print form, name, x, y, width[name], height[name], margin[name], spacing[name]
            }
        }
        function field(e, key, quoted, absent,   m) {
            if (!match(e, "\\." key " *= *" (quoted ? "\"[^\"]*\"" : "-?[0-9]+"))) return quoted ? "" : absent + 0
            m = substr(e, RSTART, RLENGTH)
            sub(/^[^=]*= */, "", m)
            gsub(/"/, "", m)
            return m
        }'
done
