#!/usr/bin/env bash
# A throwaway virtual machine that runs 32-bit code, which this machine's kernel may refuse: the
# tests make their WOW64 and 32-bit prefixes and run 32-bit programs here, on every machine
# alike. qemu (TCG) boots Debian's own 64-bit kernel with this machine's / as its root,
# read-only over virtio 9p under a tmpfs overlay, and a writable 9p share STATE/share for
# requests and results.
#
#   vm.sh STATE start [DISK DIR [writable]]
#                              boots the VM, which lives 15 minutes at the most; returns once
#                              its agent answers. DISK, an ext4 image, is mounted at DIR in it,
#                              sealed; with writable, the VM writes to DISK until it is sealed
#   vm.sh STATE seal           seals DISK: from now on the VM writes nothing to it, and what it
#                              writes under DIR goes to its memory and is thrown away
#   vm.sh STATE run NAME CMD   runs the shell command CMD in the VM as the user who started
#                              it, prints its output, exits with its exit code (1 when the VM
#                              is gone or does not answer)
#   vm.sh STATE stop           powers the VM off, and has the timeout that bounds qemu's life end
#                              it when it does not go; returns once both have ended
#   vm.sh guest SHARE [DIR MODE]  the VM's side: the agent that runs the requests (PID 1)
set -euo pipefail

# The longest the VM may live, whatever happens to the tests that use it.
readonly kLifetimeSeconds=900
readonly kBootSeconds=120
readonly kRequestSeconds=${VELKRA_VM_REQUEST_SECONDS:-240}
readonly kModules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci
                   netfs fscache 9pnet 9pnet_virtio 9p overlay
                   virtio_blk crc32c_generic jbd2 mbcache crc16 ext4"

# The initramfs: busybox and the kernel's modules for 9p, overlayfs and ext4, mounting the root,
# the share and the disk, and handing over to this script's guest agent.
make_initramfs() {
    local state=$1 kernel=$2 disk_dir=$3 mode=$4 tree=$1/initramfs
    rm -rf "$tree"
    mkdir -p "$tree/bin" "$tree/modules" "$tree/proc" "$tree/dev" "$tree/lower" "$tree/upper" \
        "$tree/root"
    cp /bin/busybox "$tree/bin/busybox"
    for module in $kModules; do
        cp "$(modinfo -k "$kernel" -n "$module")" "$tree/modules/$module.ko"
    done
    cat >"$tree/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
for module in $(echo $kModules); do insmod /modules/\$module.ko || exit 1; done
options=trans=virtio,version=9p2000.L,msize=262144
mount -t 9p -o ro,cache=loose,\$options root /lower || exit 1
mount -t tmpfs -o size=6g upper /upper
mkdir -p /upper/data /upper/work
mount -t overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work overlay /root
mount -t 9p -o \$options share "/root$(realpath "$state/share")" || exit 1
if [ -n "$disk_dir" ]; then
    for try in \$(seq 50); do [ -b /dev/vda ] || sleep 0.1; done
    mkdir -p "/root$disk_dir" && mount -t ext4 -o $mode /dev/vda "/root$disk_dir" || exit 1
fi
umount /proc /dev
exec switch_root /root /bin/bash "$(realpath "$0")" guest "$(realpath "$state/share")" \
    "$disk_dir" $mode
INIT
    chmod +x "$tree/init"
    (cd "$tree" && find . | cpio -o -H newc --quiet) | gzip -1 >"$state/initramfs.cpio.gz"
}

start() {
    local state=$1 disk=${2:-} disk_dir=${3:-} mode=ro kernel disk_drive=()
    [ "${4:-}" = writable ] && mode=rw
    stop "$state" >/dev/null 2>&1 || true
    rm -rf "$state"
    mkdir -p "$state/share/requests" "$state/share/results"
    kernel=$(find /boot -maxdepth 1 -name 'vmlinuz-*-amd64' -printf '%f\n' | sort -V | tail -n 1)
    kernel=${kernel#vmlinuz-}
    if [ -z "$kernel" ] || ! command -v qemu-system-x86_64 >/dev/null; then
        echo "Cannot start the VM: qemu-system-x86 and linux-image-amd64 must be installed." >&2
        return 1
    fi
    make_initramfs "$state" "$kernel" "${disk_dir:+$(realpath -m "$disk_dir")}" $mode
    if [ -n "$disk" ]; then
        local readonly=,readonly=on
        [ $mode = rw ] && readonly=
        disk_drive=(-drive "file=$disk,format=raw,if=virtio$readonly")
    fi
    # TCG: a KVM guest hangs after real-mode setup here. SMAP off: with it, TCG's iretq faults
    # Wine's return from system calls. One processor: with two, TCG stops both whenever one
    # flushes the other's TLB, which Wine's many changes to its memory map cause, and a scenario
    # took 22 s where it takes 19 s on one; two VMs side by side use two of this machine's
    # processors instead. multidevs=remap: / spans several file systems, and without it Wine in
    # the guest cannot load ntdll.so. security_model=none on the share: qemu creates the guest's
    # files as whoever runs qemu and ignores the guest's chown, which only root may do
    # (passthrough fails on it), so what the guest writes belongs to the user. 4 GiB: Wine, its
    # page cache and the prefix on the disk. norandmaps: TCG keeps the code it has translated
    # for a virtual address; with the guest's libraries (ld.so, libc, Wine's ntdll.so) at the
    # same address in every process, each new program reuses that code instead of translating
    # it anew: a Wine program started in 1.5 s with randomized addresses and 1.15 s without.
    # No default devices (a network card, whose boot ROM the BIOS runs, a VGA card, a CD drive):
    # the VM needs none. In the caller's process group, which timeout otherwise leaves: what
    # ends the tests' group, a Ctrl-C among them, ends the VM too.
    timeout --foreground --kill-after=10 "$kLifetimeSeconds" qemu-system-x86_64 \
        -nodefaults -accel tcg -cpu max,-smap,-smep -smp 1 -m 4096 \
        -kernel "/boot/vmlinuz-$kernel" -initrd "$state/initramfs.cpio.gz" \
        -append "console=ttyS0 panic=-1 quiet norandmaps" -no-reboot \
        -virtfs local,path=/,mount_tag=root,security_model=passthrough,readonly=on,multidevs=remap \
        -virtfs "local,path=$state/share,mount_tag=share,security_model=none,multidevs=remap" \
        "${disk_drive[@]}" \
        -display none -monitor none -serial "file:$state/console.log" -pidfile "$state/qemu.pid" \
        >"$state/qemu.log" 2>&1 </dev/null &
    echo $! >"$state/timeout.pid"
    local waited=0
    until [ -f "$state/share/ready" ]; do
        if ! kill -0 $! 2>/dev/null || [ $waited -ge $((kBootSeconds * 10)) ]; then
            local qemu=ended
            kill -0 $! 2>/dev/null && qemu="still running after $kBootSeconds s"
            echo "The VM did not boot (qemu $qemu); see $state/console.log and $state/qemu.log:" >&2
            tail -n 20 "$state/console.log" "$state/qemu.log" >&2
            stop "$state"
            return 1
        fi
        pause
        waited=$((waited + 1))
    done
    echo "VM up in $((waited / 10)) s: $(cat "$state/share/ready")"
}

# pause [SECONDS]: a tenth of a second, or SECONDS. A read that times out, not a sleep: the host
# waits on the VM, and the VM's agent on requests, several times a second, and each sleep would
# be a program started, taking processor time from the VM's emulation (some 50 ms inside it).
pause() {
    if [ -z "${pause_fd:-}" ]; then
        local fifo
        fifo=$(mktemp -u)
        mkfifo -m 600 "$fifo"
        exec {pause_fd}<>"$fifo"
        rm -f "$fifo"
    fi
    read -r -t "${1:-0.1}" -u "$pause_fd" || true
}

run() {
    local state=$1 name=$2 command=$3 share=$1/share waited=0
    if ! vm_pid "$state" qemu >/dev/null; then
        echo "The VM is not running (its start failed or it ended); see $state/console.log." >&2
        return 1
    fi
    rm -f "$share/results/$name".*
    printf '%s\n' "$command" >"$share/requests/.$name"
    mv "$share/requests/.$name" "$share/requests/$name"
    until [ -f "$share/results/$name.status" ]; do
        if ! vm_pid "$state" qemu >/dev/null || [ $waited -ge $((kRequestSeconds * 10)) ]; then
            cat "$share/results/$name.out" 2>/dev/null || true
            echo "No answer from the VM to $name; see $state/console.log." >&2
            return 1
        fi
        pause
        waited=$((waited + 1))
    done
    cat "$share/results/$name.out"
    return "$(cat "$share/results/$name.status")"
}

# vm_pid STATE NAME: the PID in STATE/NAME.pid, qemu's or that of the timeout that started it,
# while that process still runs: the command lines of both name qemu's pid file. The PID of one
# that has ended may be another process's by now, and must not be signalled.
vm_pid() {
    local pid argument
    read -r pid 2>/dev/null <"$1/$2.pid" || [ -n "${pid:-}" ] || return 1
    # The shell's own reads: run() looks ten times a second.
    while IFS= read -r -d '' argument; do
        [ "$argument" = "$1/qemu.pid" ] && echo "$pid" && return 0
    done 2>/dev/null <"/proc/$pid/cmdline"
    return 1
}

stop() {
    local state=$1 pid waited=0
    if vm_pid "$state" qemu >/dev/null; then
        # The agent takes it after the request it is running, if that ends soon.
        touch "$state/share/requests/poweroff"
    fi
    # The timeout that started qemu ends as soon as qemu has. One still running after 10 s gets
    # a TERM, which it passes on to qemu, and KILLs qemu 10 s later if it is still there; so
    # nothing of the VM outlives stop.
    while pid=$(vm_pid "$state" timeout) && [ $waited -lt 250 ]; do
        if [ $waited -eq 100 ]; then
            kill "$pid" 2>/dev/null || true
        fi
        pause
        waited=$((waited + 1))
    done
    rm -f "$state/qemu.pid" "$state/timeout.pid"
}

# seal_disk DIR: the disk mounted at DIR becomes read-only, and an overlay on it takes what the
# VM writes there, in memory; the overlay's top folder looks as the disk's does to its owner.
seal_disk() {
    local dir=$1 owner mode
    owner=$(stat -c %u:%g "$dir") mode=$(stat -c %a "$dir")
    sync
    mount -o remount,ro "$dir" || return 1
    mkdir -p /run/seal/upper /run/seal/work
    chown "$owner" /run/seal/upper
    chmod "$mode" /run/seal/upper
    mount -t overlay -o lowerdir="$dir",upperdir=/run/seal/upper,workdir=/run/seal/work seal "$dir"
}

# PID 1 in the guest: a fresh system on top of the host's files, then one request at a time.
guest() {
    local share=$1 disk_dir=${2:-} mode=${3:-} request name status owner
    # PID 1 must not end: the kernel would panic.
    set +e
    mount -t proc proc /proc
    mount -t sysfs sys /sys
    mount -t devtmpfs dev /dev
    mkdir -p /dev/pts /dev/shm
    mount -t devpts devpts /dev/pts
    # /tmp stays as the overlay has it: the sources may live there. What this machine left in
    # it (X and Wine sockets, locks) is of no use to the VM, which names its own.
    mount -t tmpfs tmpfs /dev/shm
    mount -t tmpfs tmpfs /run
    export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
    echo 1 >/proc/sys/kernel/sysrq
    # A disk that cannot be sealed ends the boot, which the host reports with the console.
    if [ -n "$disk_dir" ] && [ "$mode" = ro ] && ! seal_disk "$disk_dir"; then
        echo "The disk at $disk_dir was not sealed."
        echo o >/proc/sysrq-trigger
    fi
    # Wine refuses a prefix that the user running it does not own, and the prefixes belong to
    # whoever started the VM, who owns the share too: requests run as that user (root when
    # root started it), with that user's home, as a login would set it.
    owner=(--reuid "$(stat -c %u "$share")" --regid "$(stat -c %g "$share")" --init-groups
        --reset-env)
    echo "$(uname -r), $(nproc) CPUs, $(awk '/MemTotal/ {print $2 / 1024 " MiB"}' /proc/meminfo)" \
        >"$share/ready"
    for (( ; ; )); do
        for request in "$share"/requests/*; do
            [ -e "$request" ] || continue
            name=${request##*/}
            [ "$name" = poweroff ] && echo o >/proc/sysrq-trigger
            status=0
            if [ "$name" = seal ]; then
                seal_disk "$disk_dir" >"$share/results/$name.out" 2>&1 </dev/null || status=$?
            else
                (cd / && setpriv "${owner[@]}" env LANG="$LANG" bash "$request") \
                    >"$share/results/$name.out" 2>&1 </dev/null || status=$?
            fi
            echo $status >"$share/results/$name.status.new"
            rm -f "$request"
            mv "$share/results/$name.status.new" "$share/results/$name.status"
        done
        pause 0.2
    done
}

# The commands at the top of this file.
usage() {
    grep '^#   ' "$0" >&2
    exit 2
}

case "${1:-}" in
    guest) guest "${@:2}" ;;
    *)
        [ $# -ge 2 ] || usage
        state=$(realpath -m "$1")
        command=$2
        shift 2
        case "$command" in
            start) start "$state" "$@" ;;
            stop) stop "$state" ;;
            seal) run "$state" seal "" ;;
            run) run "$state" "$@" ;;
            *) usage ;;
        esac
        ;;
esac
