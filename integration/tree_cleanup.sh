#!/usr/bin/env bash
# Removes the install tree that tree_setup.sh laid out, if there is one.
set -eu
tree_file=$1
if [ -f "$tree_file" ]; then
  root=
  . "$tree_file"
  case $root in
    */zov-tree.*) rm -rf "$root" ;;
  esac
  rm -f "$tree_file"
fi
