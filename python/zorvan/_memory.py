"""The resident memory of this process, for the Dask tests and the stack demo to watch their workers with."""


def worker_memory(reset_peak=False):
    """worker_memory(reset_peak=False) -> (resident, peak resident) bytes of this process (Linux).

    With reset_peak the peak restarts from now. Run it on every worker with
    client.run(worker_memory, True)."""
    if reset_peak:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
    with open("/proc/self/status") as status:
        fields = dict(line.split(":", 1) for line in status)
    return int(fields["VmRSS"].split()[0]) * 1024, int(fields["VmHWM"].split()[0]) * 1024
