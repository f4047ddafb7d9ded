#!/usr/bin/python3
"""The page in a real browser: headless Chromium, driven by Selenium, opens the
form, fills and submits it, and finds the report and a chart that has loaded,
through the whole stack as scripts/serve.sh starts it (nginx in front of
polygons-web). SIGTERM must then stop the stack within 2 s, leaving nothing.

Exits 77 (skipped) when Selenium, Chromium, its driver or nginx is missing.
"""

import argparse
import re
import shutil
import sys
import tempfile

import web_stack

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


def run_checks(driver, By, WebDriverWait, base_url):
    failures = []
    driver.get(base_url)
    for name in ("sides", "radius", "trials", "seed", "classes", "show"):
        labels = driver.find_elements(By.CSS_SELECTOR, f"label[for='{name}']")
        check(labels and labels[0].text.strip(), f"field {name} has a label", failures)
    viewport = driver.find_elements(By.CSS_SELECTOR, "meta[name='viewport']")
    check(viewport, "page has a viewport for phones", failures)

    fill_form(driver, By, {"sides": "4", "radius": "2", "trials": "2000", "seed": "17",
                           "classes": "8"}, show=True)
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
    check(driver.find_element(By.ID, "sides").get_attribute("value") == "4",
          "form keeps the submitted values", failures)

    fill_form(driver, By, {"sides": "3,4", "radius": "1", "trials": "1e6", "seed": "1",
                           "classes": "0"}, show=False)
    WebDriverWait(driver, 60).until(lambda d: d.find_elements(By.ID, "error"))
    error = driver.find_element(By.ID, "error").text
    check(error.startswith("sides:"), f"bad sides is refused naming the field ({error!r})",
          failures)
    check(not driver.find_elements(By.ID, "report"), "no report for refused input", failures)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="directory of polygons and polygons-web")
    args = parser.parse_args()

    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.support.ui import WebDriverWait
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
        failures = run_checks(driver, By, WebDriverWait, stack.url)
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
