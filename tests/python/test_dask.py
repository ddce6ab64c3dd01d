# A cluster of two worker processes enriches partitions of addresses with
# lookup_many, and gets what vessarine-cli lookup --json - prints.
import random

import pytest

from conftest import cli_json

distributed = pytest.importorskip("distributed")
bag = pytest.importorskip("dask.bag")


def enrich(part):
    import vessarine
    return vessarine.lookup_many(part)


def test_cluster_enrichment_equals_the_command_line():
    rng = random.Random(20)
    prefixes = ["00:0c:29", "00:01:c8", "70:b3:d5:f2:f1", "0a:e6:a6", "01:00:5e", "02:00:00", "00:50:56"]
    addresses = [p + "".join(":%02x" % rng.randrange(256) for _ in range(6 - len(p.split(":"))))
                 for p in prefixes for _ in range(50)] + ["not a mac"]
    rng.shuffle(addresses)
    expected = cli_json("lookup", "--json", "-", stdin="".join(a + "\n" for a in addresses).encode())

    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None,
                                  worker_dashboard_address=None, timeout=60) as cluster, \
            distributed.Client(cluster, timeout=60) as client:
        future = client.compute(bag.from_sequence(addresses, npartitions=6).map_partitions(enrich))
        result = future.result(timeout=120)
        workers = client.run(lambda: __import__("os").getpid(), wait=True)
    assert len(set(workers.values())) == 2
    assert list(result) == expected
