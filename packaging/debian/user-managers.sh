# systemctl --user for USER, whose runtime directory is DIR, with the remaining arguments: run as
# that user with the addresses of their manager, and given at most 15 seconds.
as_user() {
  as_user_name=$1
  as_user_dir=$2
  shift 2
  timeout 15 runuser -u "$as_user_name" -- env XDG_RUNTIME_DIR="$as_user_dir" \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$as_user_dir/bus" systemctl --user "$@"
}

# Runs systemctl --user with the given arguments in every user manager that is running now, so
# that users who are logged in see the change without logging in again. Nothing to do without
# systemd or where no user manager runs (a container, a build chroot).
for_each_user_manager() {
  [ -d /run/systemd/system ] || return 0
  for dir in /run/user/*; do
    [ -S "$dir/systemd/private" ] || continue
    user=$(getent passwd "${dir##*/}" | cut -d: -f1) || continue
    [ -n "$user" ] || continue
    as_user "$user" "$dir" "$@" >/dev/null 2>&1 || true
  done
}

# Starts (or restarts, to pick up a changed unit) the socket for each running user who has it
# enabled; a user who disabled or masked it is left alone.
start_socket_for_user_managers() {
  [ -d /run/systemd/system ] || return 0
  for dir in /run/user/*; do
    [ -S "$dir/systemd/private" ] || continue
    user=$(getent passwd "${dir##*/}" | cut -d: -f1) || continue
    [ -n "$user" ] || continue
    if as_user "$user" "$dir" --quiet is-enabled "$1" 2>/dev/null; then
      as_user "$user" "$dir" restart "$1" >/dev/null 2>&1 || true
    fi
  done
}
