"""The viewer's server over HTTP: its files compressed and cached, its answers equal to the library's,
its refusals as JSON the page shows."""

import base64
import gzip
import json
import threading
import urllib.error
import urllib.request

import numpy as np
import pytest

from ozra_data_access.access import OzraFile
from ozra_data_access.common import ValueRange
from ozra_data_access.samples import write_sample
from ozra_data_access.view import Runs, ViewerServer


@pytest.fixture(scope="module")
def run_path(tmp_path_factory):
    return str(write_sample(tmp_path_factory.mktemp("served") / "run.ozra", scans=60, points_per_spectrum=40,
                            dad_spectra=30, wavelengths=40, compounds=5))


@pytest.fixture(scope="module")
def server(run_path):
    runs = Runs([run_path])
    served = ViewerServer(("127.0.0.1", 0), runs)
    threading.Thread(target=served.serve_forever, daemon=True).start()
    yield served
    served.shutdown()
    served.server_close()
    runs.close()


def get(server, path, **headers):
    request = urllib.request.Request(server.url + path.lstrip("/"), headers=headers)
    try:
        with urllib.request.urlopen(request) as response:
            return response.status, dict(response.headers), response.read()
    except urllib.error.HTTPError as error:
        return error.code, dict(error.headers), error.read()


def answer(server, path):
    status, _, body = get(server, path)
    assert status == 200, body
    return json.loads(body)


def test_static_files_are_compressed_and_the_plotting_library_kept_for_good(server):
    status, headers, body = get(server, "/static/plotly.min.js?v=4.1.1", **{"Accept-Encoding": "gzip"})
    assert status == 200 and headers["Content-Encoding"] == "gzip" and "immutable" in headers["Cache-Control"]
    assert gzip.decompress(body).startswith(b"/**\n* plotly.js")
    status, headers, body = get(server, "/")
    assert status == 200 and headers["Cache-Control"] == "no-cache" and b"app.js" in body
    assert get(server, "/", **{"If-None-Match": headers["ETag"]})[0] == 304


def test_map_answer_unpacks_to_the_binned_map(server, run_path):
    shown = answer(server, "/api/ms_map?run=0&condition=1&time_bins=30&x_bins=20&t0=2&t1=9")
    values = np.frombuffer(base64.b64decode(shown["values"]), "<f4").reshape(shown["shape"])
    with OzraFile(run_path) as ozra_file:
        analysis = ozra_file.get_measurement(0).get_qual_analysis(0)
        condition = analysis.unique_acquisition_conditions[1]
        expected = analysis.get_binned_map(condition, shown["shape"][0], 20, ValueRange(2.0, 9.0),
                                           ValueRange(shown["x_edges"][0], shown["x_edges"][-1]))
    np.testing.assert_array_equal(values, expected.values.astype("<f4"))
    np.testing.assert_array_equal(shown["time_edges"], expected.time_edges)


def test_trace_answer_equals_the_stored_trace(server, run_path):
    shown = answer(server, "/api/trace?run=0&kind=analog&analysis=0&index=0")
    with OzraFile(run_path) as ozra_file:
        trace = ozra_file.get_measurement(0).get_analog_analysis(0).get_trace(0)
        assert shown["label"] == trace.label
        np.testing.assert_array_equal(shown["intensity"], trace.intensities)


@pytest.mark.parametrize("path, status, text", [
    ("/api/xic?run=0&mz=abc", 400, "mz must be a number, not 'abc'"),
    ("/api/xic?run=0&mz=500&tol=5&unit=mmu", 400, "the tolerance unit must be ppm or Da"),
    ("/api/dad_chromatogram?run=0&w0=700&w1=710", 400, "lies outside the DAD analysis's wavelengths, 190-600 nm"),
    ("/api/dad_map?run=0&x0=300&x1=200", 400, "x0 300 lies above x1 200"),
    ("/api/ms_map?run=0&time_bins=0", 400, "time_bins must lie between 1 and 4000"),
    ("/api/spectrum?run=3&index=0", 400, "no run 3: the viewer shows 1"),
    ("/api/spectrum?run=0&index=100000", 400, "no spectrum 100000"),
    ("/api/trace?run=0&kind=quan&analysis=5&index=0", 400, "no quan analysis 5"),
    ("/api/nothing", 404, "no question 'nothing'"),
])
def test_refusals_are_json_naming_what_was_wrong(server, path, status, text):
    got, _, body = get(server, path)
    assert got == status
    assert text in json.loads(body)["error"]


@pytest.mark.parametrize("host, status", [(None, 200), ("localhost:{port}", 200), ("evil.example:{port}", 403),
                                          ("127.0.0.1:1", 403)])
def test_only_requests_naming_this_server_are_answered(server, host, status):
    headers = {} if host is None else {"Host": host.format(port=server.server_address[1])}
    assert get(server, "/api/overview", **headers)[0] == status


def test_a_file_that_is_not_an_ozra_file_is_named_before_serving(tmp_path, capsys):
    from ozra_data_access.cli import main

    source = tmp_path / "run.mzML"
    source.write_text("<mzML/>")
    assert main(["view", str(source), "--no-browser"]) == 1
    assert str(source) in capsys.readouterr().err
