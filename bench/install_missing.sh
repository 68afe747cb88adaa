# Sourced by the benchmark scripts: installs the Debian packages named, when
# any are given, with sudo when not run as root. The peers measured against
# come in only here, never through the set-up or test scripts.
install_missing() {
  [ $# -gt 0 ] || return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@"
}
