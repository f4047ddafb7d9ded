"""Checks of the page as a visitor meets it in Chromium, for browser_test.py:
a run's link and what it reproduces, its data links, the pictures of its
first polygons against the engine, keyboard use, narrow and zoomed screens,
and axe-core's WCAG 2.1 A and AA rules on each kind of page.
"""

import json
import os
import re
import urllib.error
import urllib.request

AXE_DIR = os.environ.get("POLYGONS_AXE_DIR", "/var/cache/polygons/axe-core")
AXE_TAGS = ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"]


def axe_source():
    """axe.min.js as scripts/fetch-axe.sh keeps it, or None when it is missing."""
    try:
        with open(os.path.join(AXE_DIR, "axe.min.js"), encoding="utf-8") as source:
            return source.read()
    except OSError:
        return None


def axe_violations(driver, source):
    """axe-core's violations of the WCAG 2.1 A and AA rules on the page shown,
    one line each (rule: the elements), injected through WebDriver so that no
    script of the page's own is needed."""
    driver.execute_script(source)
    driver.set_script_timeout(60)
    return driver.execute_async_script(
        """
        const done = arguments[arguments.length - 1];
        axe.run(document, {runOnly: {type: 'tag', values: arguments[0]}})
          .then(r => done(r.violations.map(
              v => v.id + ': ' + v.nodes.map(n => n.target.join(' ')).join(', '))))
          .catch(e => done(['axe-core failed: ' + e]));
        """, AXE_TAGS)


def check_accessible(driver, source, page, check, failures):
    if source is None:
        check(False, f"axe-core is missing from {AXE_DIR} (scripts/fetch-axe.sh fetches it)",
              failures)
        return
    violations = axe_violations(driver, source)
    check(not violations, f"axe-core finds no WCAG 2.1 A/AA violation on the {page}: {violations}",
          failures)


def fits_width(driver, width, scale):
    """Whether the page shown fits a window `width` CSS pixels wide at `scale`
    device pixels each (a 200% zoom of a 1280 px window is 640 at 2) without
    sideways scrolling. Not as a phone: a phone's browser would zoom out to
    whatever the page takes."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": 800, "deviceScaleFactor": scale, "mobile": False})
    try:
        return driver.execute_script(
            "return document.documentElement.scrollWidth <= window.innerWidth")
    finally:
        driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def check_fits_screens(driver, page, check, failures):
    for width, scale, name in ((390, 3, "390 px wide"), (640, 2, "200% zoom of 1280 px")):
        check(fits_width(driver, width, scale), f"nothing of the {page} is cut off at {name}",
              failures)


def tab_to(driver, ActionChains, Keys, element_id, limit=40):
    """Presses Tab until the element with this id has the focus; False when it never does."""
    for _ in range(limit):
        ActionChains(driver).send_keys(Keys.TAB).perform()
        if driver.switch_to.active_element.get_attribute("id") == element_id:
            return True
    return False


def submit_by_keyboard(driver, ActionChains, Keys, values):
    """Fills the form and runs it with the keyboard alone: Tab to the first
    field, then type each value and Tab on, in the form's order, past the
    checkbox to Run, and press Enter."""
    if not tab_to(driver, ActionChains, Keys, "sides"):
        return False
    for name in ("sides", "radius", "trials", "seed", "classes"):
        if driver.switch_to.active_element.get_attribute("id") != name:
            return False
        (ActionChains(driver).key_down(Keys.CONTROL).send_keys("a").key_up(Keys.CONTROL)
         .send_keys(values[name], Keys.TAB).perform())
    if driver.switch_to.active_element.get_attribute("id") != "show":
        return False
    if values.get("show") != driver.switch_to.active_element.is_selected():
        ActionChains(driver).send_keys(Keys.SPACE).perform()
    ActionChains(driver).send_keys(Keys.TAB).perform()
    if driver.switch_to.active_element.get_attribute("type") != "submit":
        return False
    ActionChains(driver).send_keys(Keys.ENTER).perform()
    return True


def rounds_to(value, printed):
    """Whether `value` rounds to the report's figure `printed` (4.991, 2.4493E-16)."""
    mantissa, _, exponent = printed.upper().partition("E")
    decimals = len(mantissa.partition(".")[2]) - int(exponent or 0)
    return abs(value - float(printed)) <= 0.5 * 10.0 ** -decimals * (1 + 1e-9)


def report_figures(report):
    """The report's lines that carry parameters and figures, without its clock lines."""
    return [line for line in report.splitlines()
            if "|" in line or re.match(r"^ +\d+ +\S+ +\S+ +\S+ *$", line)]


def polygon_perimeters(driver):
    return [float(figure.get_attribute("data-perimeter"))
            for figure in driver.find_elements("css selector", "#polygons figure")]


def engine_perimeters(build, sides, radius, trials, seed):
    """The first trials' perimeters as the engine gives them, through the Python module."""
    import sys
    sys.path.insert(0, os.path.join(build, "python"))
    try:
        import polygons
    except ImportError as error:
        return str(error)
    return [float(p) for p in polygons.perimeters(sides, radius, trials, seed)]


def fetch(url):
    try:
        with urllib.request.urlopen(url, timeout=120) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, error.read().decode()


def check_run_page(driver, build, base_url, query, run, check, failures):
    """The result page of `run` (sides, radius, trials, seed) reached by the
    form: its address is the run's link, its data links give what the API
    gives, its polygons are the engine's. Returns (figures, perimeters)."""
    sides, radius, trials, seed = run
    check(driver.current_url == base_url + "run?" + query,
          f"the address bar holds the run's link ({driver.current_url})", failures)
    link = driver.find_element("css selector", "#run-link a")
    check("Link to this run" in link.text and link.get_attribute("href") == driver.current_url,
          "the page shows \"Link to this run\" with its address", failures)

    shown = polygon_perimeters(driver)
    labels = [svg.get_attribute("aria-label")
              for svg in driver.find_elements("css selector", "#polygons svg[role=img]")]
    check(len(shown) == 6 and len(labels) == 6 and all(label and "perimeter" in label
                                                       for label in labels),
          f"six polygons, each with a text alternative ({len(shown)}, {labels[:1]})", failures)
    engine = engine_perimeters(build, sides, radius, 6, seed)
    check(shown == engine, f"the polygons' perimeters are the engine's first trials ({shown} "
          f"against {engine})", failures)

    report = driver.find_element("id", "report").text
    alt = driver.find_element("id", "chart").get_attribute("alt")
    extremes = re.search(r"Extreme values, +(\S+) +(\S+) +\|", report)
    mode = re.search(r"Mode x, y, +(\S+)", report)
    average = re.search(r"Average, stdev, +(\S+)", report)
    said = re.search(r"range, (\S+) to (\S+):.*mode\) is at (\S+);.*mean is ([-+.\de]+)", alt)
    check(said and extremes and mode and average
          and all(rounds_to(float(x), p) for x, p in zip(said.groups(), (extremes[1], extremes[2],
                                                                        mode[1], average[1]))),
          f"the chart's text alternative states the range, the mode and the mean ({alt!r})",
          failures)

    api = base_url + "api/run?" + query
    csv_link = driver.find_element("id", "csv-link").get_attribute("href")
    status, kept_csv = fetch(csv_link)
    _, api_csv = fetch(api + "&format=csv")
    check(status == 200 and kept_csv == api_csv and kept_csv.count("\n") > 1,
          "the CSV link gives what /api/run gives as CSV for the same parameters", failures)
    status, kept_json = fetch(driver.find_element("id", "json-link").get_attribute("href"))
    figures = json.loads(kept_json) if status == 200 else {}
    check(figures.get("parameters", {}).get("seed") == seed
          and rounds_to(figures.get("average", float("nan")), average[1]),
          "the JSON link gives the figures the page shows", failures)
    return report_figures(report), shown


def check_clock_seed(driver, By, WebDriverWait, base_url, check, failures):
    driver.get(base_url + "run?sides=3&radius=1&trials=1000&seed=0&classes=0")
    WebDriverWait(driver, 120).until(lambda d: d.find_elements(By.ID, "run-link"))
    text = driver.find_element(By.ID, "run-link").text
    check("cannot be repeated" in text and "Link to this run" not in text,
          f"a run seeded from the clock says it cannot be repeated ({text!r})", failures)
    check(not driver.find_elements(By.ID, "polygons"),
          "no polygons claimed for a run seeded from the clock", failures)
