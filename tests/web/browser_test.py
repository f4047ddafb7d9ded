#!/usr/bin/python3
"""The page in a real browser: headless Chromium, driven by Selenium, opens the
form, fills and submits it by keyboard, and finds the report, the exact
answer beside it and a chart that has loaded, through the whole stack as
scripts/serve.sh starts it (nginx in front of polygons-web). The address is
the run's link, which gives the same report and polygons in a fresh browser;
the data links, the polygons, keyboard use, narrow and zoomed screens and
axe-core's accessibility rules are checked as page_checks.py says. The API's
JSON and CSV answers to the same run must agree with each other and with its
report. SIGTERM must then stop the stack within 2 s, leaving nothing.

Exits 77 (skipped) when Selenium, Chromium, its driver or nginx is missing.
"""

import argparse
import csv
import io
import json
import re
import shutil
import sys
import tempfile
import urllib.error
import urllib.request

import web_stack
from page_checks import (check_accessible, check_clock_seed, check_fits_screens,
                         check_run_page, axe_source, polygon_perimeters, report_figures,
                         rounds_to, submit_by_keyboard, tab_to)

SKIP = 77

CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-dev-shm-usage",
]


def skip(reason):
    print(f"skipped: {reason}")
    return SKIP


def open_browser(webdriver, Service, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for flag in CHROMIUM_FLAGS + [f"--user-data-dir={profile}"]:
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(executable_path=shutil.which("chromedriver")),
                              options=options)
    driver.set_page_load_timeout(120)
    return driver


def fill_form(driver, By, values, show):
    for name, value in values.items():
        field = driver.find_element(By.ID, name)
        field.clear()
        field.send_keys(value)
    checkbox = driver.find_element(By.ID, "show")
    if checkbox.is_selected() != show:
        checkbox.click()
    driver.find_element(By.CSS_SELECTOR, "button[type=submit]").click()


def check(condition, message, failures):
    if not condition:
        failures.append(message)
        print(f"FAIL: {message}")


def fetch(url):
    """(status, content type, body text) of a GET."""
    try:
        with urllib.request.urlopen(url, timeout=120) as answer:
            return answer.status, answer.headers["Content-Type"], answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.headers["Content-Type"], error.read().decode()


def report_classes(report):
    """(centre, density, cumulative) as printed, from the report's histogram listing."""
    rows = re.findall(r"^ +\d+ +(\S+) +(\S+) +(\S+) *$", report, re.MULTILINE)
    return [row for row in rows if all(re.fullmatch(r"[-+.\dE]+", x) for x in row)]


def check_api_formats(base_url, failures):
    """One run as JSON and as CSV: both parse and agree with the report."""
    query = f"{base_url}api/run?{RUN_QUERY}"
    status, kind, body = fetch(query + "&format=json")
    check(status == 200 and kind == "application/json", f"JSON answer ({status}, {kind})",
          failures)
    if status != 200:
        print(body)
        return
    data = json.loads(body)
    counts = [row["count"] for row in data["classes"]]
    check(len(counts) == 8 and sum(counts) == data["trials"] == 2000
          and data["parameters"]["trials"] == 2000, "JSON counts sum to the trials", failures)
    printed = re.search(r"Average, stdev, +(\S+) +(\S+) +\|", data["report"])
    check(printed and rounds_to(data["average"], printed[1]) and rounds_to(data["stdev"], printed[2]),
          "JSON average and stdev round to the report's figures", failures)
    listed = report_classes(data["report"])
    check(len(listed) == 8 and all(
        rounds_to(row["centre"], c) and rounds_to(row["density"], d) and rounds_to(row["cumulative"], f)
        for row, (c, d, f) in zip(data["classes"], listed)),
          "JSON classes round to the report's histogram listing", failures)
    theory = data["theory"]
    check(theory["mean"] > 0 and theory["stdev"] > 0 and isinstance(data["z"], (int, float))
          and abs(data["z"] * data["standard_error"] - (data["average"] - theory["mean"])) < 1e-9,
          "JSON carries the exact answer and the distance in standard errors", failures)

    status, kind, body = fetch(query + "&format=csv")
    check(status == 200 and kind == "text/csv; charset=utf-8", f"CSV answer ({status}, {kind})",
          failures)
    rows = list(csv.DictReader(io.StringIO(body)))
    # A value that is not known (an exact probability beyond 10000 sides)
    # is nan in CSV and null in JSON (json_text_test checks the null).
    def number(v):
        return None if v is None or v == "nan" else float(v)
    check([{k: number(v) for k, v in row.items()} for row in rows]
          == [{k: number(v) for k, v in row.items()} for row in data["classes"]],
          "CSV classes are the JSON classes", failures)

    status, _, body = fetch(query + "&format=xml")
    check(status == 400 and body.startswith("format:"), "a bad format is refused naming it",
          failures)


RUN = (4, 2.0, 2000, 17)  # sides, radius, trials, seed: the run the form submits
RUN_QUERY = "sides=4&radius=2&trials=2000&seed=17&classes=8&show=1"


def check_link_in_fresh_browser(new_browser, By, WebDriverWait, link, figures, perimeters,
                                failures):
    """The run's link in a browser with nothing of the first: the same report and polygons."""
    fresh = new_browser()
    try:
        fresh.get(link)
        WebDriverWait(fresh, 120).until(lambda d: d.find_elements(By.ID, "report"))
        check(report_figures(fresh.find_element(By.ID, "report").text) == figures,
              "the run's link gives the same report in a fresh browser", failures)
        check(polygon_perimeters(fresh) == perimeters,
              "the run's link gives the same polygons in a fresh browser", failures)
    finally:
        fresh.quit()


def run_checks(driver, new_browser, build, base_url):
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait

    failures = []
    axe = axe_source()
    driver.get(base_url)
    for name in ("sides", "radius", "trials", "seed", "classes", "show"):
        labels = driver.find_elements(By.CSS_SELECTOR, f"label[for='{name}']")
        check(labels and labels[0].text.strip(), f"field {name} has a label", failures)
    viewport = driver.find_elements(By.CSS_SELECTOR, "meta[name='viewport']")
    check(viewport, "page has a viewport for phones", failures)
    check_accessible(driver, axe, "form", check, failures)
    check_fits_screens(driver, "form", check, failures)

    check(submit_by_keyboard(driver, ActionChains, Keys,
                             {"sides": "4", "radius": "2", "trials": "2000", "seed": "17",
                              "classes": "8", "show": True}),
          "the form is filled and run by keyboard alone", failures)
    WebDriverWait(driver, 120).until(lambda d: d.find_elements(By.ID, "report"))
    report = driver.find_element(By.ID, "report").text
    if " Mode x, y," not in report and "Mode x, y," not in report:
        return None
    check("= 2000; seed, 17" in report, "report shows the trials and seed submitted", failures)
    check(re.search(r"\.Sides,\s+4\s+\|", report), "report shows the sides submitted", failures)
    chart = driver.find_element(By.ID, "chart")
    loaded = WebDriverWait(driver, 60).until(
        lambda d: d.execute_script(
            "return arguments[0].complete && arguments[0].naturalWidth", chart))
    check(loaded and loaded > 0, "chart image has loaded (naturalWidth > 0)", failures)
    exact = driver.find_element(By.ID, "exact").text
    check("Exact mean of the perimeter" in exact and "standard errors" in exact,
          f"page shows the exact answer beside the run ({exact!r})", failures)
    check(driver.find_element(By.ID, "sides").get_attribute("value") == "4",
          "form keeps the submitted values", failures)
    figures, perimeters = check_run_page(driver, build, base_url, RUN_QUERY, RUN, check, failures)
    check_accessible(driver, axe, "result page", check, failures)
    check_fits_screens(driver, "result page", check, failures)
    check(tab_to(driver, ActionChains, Keys, "json-link"), "the data links take the keyboard's focus",
          failures)
    link = driver.current_url
    check_link_in_fresh_browser(new_browser, By, WebDriverWait, link, figures, perimeters, failures)

    fill_form(driver, By, {"sides": "3,4", "radius": "1", "trials": "1e6", "seed": "1",
                           "classes": "0"}, show=False)
    WebDriverWait(driver, 60).until(lambda d: d.find_elements(By.ID, "error"))
    error = driver.find_element(By.ID, "error").text
    check(error.startswith("sides:"), f"bad sides is refused naming the field ({error!r})",
          failures)
    check(not driver.find_elements(By.ID, "report"), "no report for refused input", failures)
    check_accessible(driver, axe, "error page", check, failures)
    check_fits_screens(driver, "error page", check, failures)

    driver.get(base_url + "runs/" + "0" * 32 + "/data.csv")
    notice = driver.find_elements(By.ID, "notice")
    check(notice and "expired" in notice[0].text, "an expired run's data link says so", failures)
    check_accessible(driver, axe, "expired page", check, failures)

    check_clock_seed(driver, By, WebDriverWait, base_url, check, failures)
    check_api_formats(base_url, failures)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="directory of polygons and polygons-web")
    args = parser.parse_args()

    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return skip("python3-selenium is not installed")
    if not shutil.which("chromium") or not shutil.which("chromedriver"):
        return skip("chromium or chromium-driver is not installed")
    if not web_stack.nginx_installed():
        return skip("nginx is not installed")

    profile = tempfile.mkdtemp(prefix="polygons-web-chromium-")
    stack = driver = None
    try:
        stack = web_stack.start(args.build)
        driver = open_browser(webdriver, Service, profile)

        def new_browser():
            return open_browser(webdriver, Service, tempfile.mkdtemp(dir=profile))

        failures = run_checks(driver, new_browser, args.build, stack.url)
        if failures is None:
            return skip("the program does not write the \" Mode x, y,\" line yet")
        driver.quit()
        driver = None
        seconds = stack.stop()
        check(seconds is not None and seconds <= 2.0,
              f"SIGTERM stops the whole stack within 2 s, leaving no process ({seconds})",
              failures)
        if failures:
            print(stack.log_text())
        print("browser test: " + ("passed" if not failures else f"{len(failures)} failures"))
        return 1 if failures else 0
    finally:
        if driver is not None:
            driver.quit()
        if stack is not None:
            stack.kill_leftovers()
        shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
