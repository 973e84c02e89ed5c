#!/bin/sh
# SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
# SPDX-License-Identifier: GPL-3.0-or-later
# File-manager script: hands the first selected file to the running Tavrel Lite.
# Nautilus (GNOME) and Caja (MATE) pass the selection in this variable.
file=$(printf '%s\n' "${NAUTILUS_SCRIPT_SELECTED_FILE_PATHS:-$CAJA_SCRIPT_SELECTED_FILE_PATHS}" | head -n 1)
[ -n "$file" ] || file="$1"
[ -n "$file" ] || exit 2
exec tavrel-send conserva "$file"
