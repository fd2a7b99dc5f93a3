#!/bin/sh
# binfmt.sh register|unregister EMULATOR: lets the kernel run the programs of
# the emulator's architecture as themselves (binfmt_misc), under a name of
# the tests' own, with the magic and mask of Debian's registration for it.
# Never fails: where the kernel does not allow it, the tests run the
# programs through the emulator, and this says so.
dir=/proc/sys/fs/binfmt_misc
arch=${2##*/qemu-}
arch=${arch%-static}
name=stopex-$arch
case $1 in
  register)
    [ -e "$dir/register" ] || mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null
    if ! [ -w "$dir/register" ]; then
      echo "binfmt_misc is not available here: the programs run through $2"
      exit 0
    fi
    [ -e "$dir/$name" ] && exit 0
    IFS=: read -r _ _ type offset magic mask _ <"/usr/lib/binfmt.d/qemu-$arch.conf"
    # F: the emulator is opened now, so that it serves in every namespace.
    if printf ':%s:%s:%s:%s:%s:%s:F' "$name" "$type" "$offset" "$magic" "$mask" "$2" >"$dir/register" 2>/dev/null; then
      echo "registered $2 for $arch programs as $name"
    else
      echo "binfmt_misc refused the registration: the programs run through $2"
    fi ;;
  unregister)
    [ -e "$dir/$name" ] && echo -1 >"$dir/$name"
    exit 0 ;;
esac
