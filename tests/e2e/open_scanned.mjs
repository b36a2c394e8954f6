// Opens a URL in a phone-sized headless Chromium as a camera app hands it over (a navigation the
// person started), and prints where the browser ended up, then the page's text. For the desktop
// test, which reads the URL from the QR code on the screen: node open_scanned.mjs URL
import { launchBrowser, loopbackContext } from './harness.mjs';

const browser = await launchBrowser();
const phone = await loopbackContext(browser, { viewport: { width: 390, height: 844 }, isMobile: true, hasTouch: true });
const page = await phone.newPage();
await page.goto(process.argv[2]).finally(() => console.log(page.url()));
console.log(await page.textContent('body'));
await browser.close();
