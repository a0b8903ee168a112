# Guest steps of vm_hidraw (busybox sh, in /run). korvel-uhid-rx takes its commands from a
# FIFO that the check program writes to; its trace shows what reached the device.
mkfifo rx.cmd
korvel-uhid-rx --trace <rx.cmd >rx.json 2>rx.log &
rx=$!
exec 3>rx.cmd  # held open, so the emulator reads no end of input between writers

korvel-hidraw-check --control rx.cmd --user 65534 >check.out 2>&1
check=$?
# The check leaves the dongle plugged: the companion finds it as the tool would.
korvel-rf scan >scan.out 2>&1
scan=$?

echo quit >&3
exec 3>&-
wait $rx
rxstatus=$?

sed 's/^/KORVEL-VM check: /' check.out
sed 's/^/KORVEL-VM scan: /' scan.out
sed 's/^/KORVEL-VM rx: /' rx.log
sed 's/^/KORVEL-VM images: /' rx.json
echo "KORVEL-VM status: check=$check scan=$scan uhid-rx=$rxstatus"
