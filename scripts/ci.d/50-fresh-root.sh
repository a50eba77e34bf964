#!/usr/bin/env bash
# The README's promise on a fresh machine: a minimal Debian 12 root (debootstrap minbase with git
# and ca-certificates, nothing else), a clone of the commit under test inside it, and the
# README's two commands, read from the README as it writes them, run there as root in a chroot.
# A package that the scripts forget to install fails here, however much this machine has.
#
# The base root is kept in RVT_FRESH_ROOT_DIR (default /var/cache/rvt2600-fresh-root, outside
# the clone) and made again when missing or older than a week; each run works on a copy of it,
# so every run starts from the same fresh root. Downloaded packages are kept there too, so that
# the step costs the installs, the builds and the tests, not the downloads. The Debian mirror is
# the one this machine's own apt sources name; the root's apt sources are debootstrap's own (the
# release, main), as on a fresh install that has not taken updates yet.
set -euo pipefail
cd "$(dirname "$0")/../.."
repo=$PWD
cache=${RVT_FRESH_ROOT_DIR:-/var/cache/rvt2600-fresh-root}
base=$cache/bookworm-minbase
archives=$cache/archives
root=$cache/run
mkdir -p "$cache" "$archives/partial"

# The README's two commands: the first two indented lines of its "## Commands" section.
mapfile -t commands < <(awk '/^## /{inside = ($0 == "## Commands")} inside && /^    [^ ]/{sub(/^    /, ""); print}' README.md | head -n 2)
if ((${#commands[@]} != 2)); then
  echo "fresh root: the README's Commands section does not start with two commands"
  exit 1
fi

# Debian's sources as this machine's apt has them, as "URI SUITE" pairs (one-line and deb822).
apt_sources() {
  local files=()
  [[ -f /etc/apt/sources.list ]] && files+=(/etc/apt/sources.list)
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [[ -f "$f" ]] && files+=("$f")
  done
  ((${#files[@]})) || return 0
  awk '
    function flush() { if (types ~ /(^| )deb( |$)/) { n = split(uris, u, " "); m = split(suites, s, " ");
                         for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) print u[i], s[j] }
                       types = uris = suites = "" }
    FNR == 1 { flush() }
    FILENAME ~ /\.sources$/ {
      if ($0 ~ /^[ \t]*$/) { flush(); next }
      if ($1 == "Types:") { $1 = ""; types = $0 }
      if ($1 == "URIs:") { $1 = ""; uris = $0 }
      if ($1 == "Suites:") { $1 = ""; suites = $0 }
      next }
    $1 == "deb" { i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ } print $i, $(i + 1) }
    END { flush() }' "${files[@]}" | sed 's/^ *//; s/  */ /g'
}
mirror=$(apt_sources | awk '$2 == "bookworm" {print $1; exit}')
if [[ -z "$mirror" ]]; then
  echo "fresh root: no Debian 12 (bookworm) source in this machine's apt sources"
  exit 1
fi

mounted=()
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[i]}" 2>/dev/null || umount -R -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
  if [[ -z "${RVT_FRESH_ROOT_KEEP:-}" ]]; then rm -rf "$root"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start=$SECONDS
if [[ ! -f "$base/.made" || -n "$(find "$base/.made" -mtime +7)" ]]; then
  command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  echo "fresh root: debootstrap bookworm (minbase, git, ca-certificates) from the machine's mirror"
  rm -rf "$base.new"
  debootstrap --variant=minbase --include=git,ca-certificates bookworm "$base.new" "$mirror" \
    > "$cache/debootstrap.log" 2>&1 || { tail -n 30 "$cache/debootstrap.log"; exit 1; }
  rm -rf "$base.new/var/cache/apt/archives"/*.deb "$base"
  touch "$base.new/.made"
  mv "$base.new" "$base"
fi
echo "fresh root: base ready ($((SECONDS - start)) s)"

# A copy of the base for this run, the commit under test cloned into it.
[[ -d "$root" ]] && { umount -R -l "$root"/{proc,dev,var/cache/apt/archives} 2>/dev/null || true; rm -rf "$root"; }
cp -a "$base" "$root"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
commit=$(git rev-parse HEAD)
git clone -q --no-local "$repo" "$root/src"
git -C "$root/src" checkout -q --detach "$commit"
if [[ -d "$repo/../shared" ]]; then cp -a "$repo/../shared" "$root/shared"; fi

for m in proc dev var/cache/apt/archives; do mkdir -p "$root/$m"; done
mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" && mounted+=("$root/dev")
mount --bind "$archives" "$root/var/cache/apt/archives" && mounted+=("$root/var/cache/apt/archives")

summary=()
for cmd in "${commands[@]}"; do
  log="$cache/$(basename "${cmd%% *}" .sh).log"
  echo "fresh root: $cmd"
  t=$SECONDS
  if ! chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
       PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
       bash -c "cd /src && $cmd" > "$log" 2>&1 < /dev/null; then
    echo "fresh root: FAILED: $cmd (after $((SECONDS - t)) s); the last lines of its output:"
    tail -n 60 "$log"
    exit 1
  fi
  tail -n 3 "$log" | sed 's/^/  /'
  summary+=("$cmd: passed ($((SECONDS - t)) s)")
done
printf 'fresh root: %s\n' "${summary[@]}"
