// Holds docs/openapi.yaml against the real program: validates the document, starts the
// service (text-file driver), sends every documented example and checks the answer's status,
// media type and shape, so that the document cannot drift from the code.
//   node openapi_contract_test.mjs <Tillvane_se> <openapi.yaml>
import {request} from 'node:http';
import {kSkipExitCode, startService} from '../support/service_process.mjs';

// Examples of features that are being built on another branch; each is skipped with this
// message until its feature lands, then taken out of this list.
// The service runs with tokens; every request carries this one unless its example says
// otherwise, so the examples hold with and without token checks in the program.
const kToken = 'contract-token-0123456789';
const kAllowedOrigin = 'http://till.example';
const kMethods = ['get', 'post', 'put', 'delete', 'options', 'patch', 'head'];

const [program, document] = process.argv.slice(2);
let SwaggerParser;
try {
  SwaggerParser = (await import('@apidevtools/swagger-parser')).default;
} catch {
  console.log('SKIP: the test tools are not installed (scripts/setup.sh --tests runs npm ci in tests/)');
  process.exit(kSkipExitCode);
}
const api = await SwaggerParser.validate(document);  // dereferenced: no $ref left

// What `value` lacks of `schema`: types, required properties, enums; [] when it fits.
function shapeErrors(schema, value, where) {
  if (value === null) return schema.nullable ? [] : [`${where} is null`];
  const type = Array.isArray(value) ? 'array' : typeof value;
  const wanted = schema.type === 'integer' ? 'number' : schema.type;
  if (wanted && wanted !== type) return [`${where} is ${type}, not ${schema.type}`];
  if (schema.type === 'integer' && !Number.isInteger(value)) return [`${where} is no integer`];
  if (schema.enum && !schema.enum.includes(value)) return [`${where} is ${value}, none of ${schema.enum}`];
  const errors = (schema.required ?? []).filter((key) => !(key in value)).map((key) => `${where}.${key} is missing`);
  for (const [key, property] of Object.entries(schema.properties ?? {})) {
    if (value[key] !== undefined) errors.push(...shapeErrors(property, value[key], `${where}.${key}`));
  }
  return errors;
}

// The request of example `name`: its path, query and header parameters, body and token.
function exampleRequest(path, operation, name) {
  const query = new URLSearchParams();
  const headers = {};
  for (const parameter of operation.parameters ?? []) {
    const example = parameter.examples?.[name];
    if (!example) continue;
    if (parameter.in === 'path') path = path.replace(`{${parameter.name}}`, encodeURIComponent(example.value));
    if (parameter.in === 'query') query.set(parameter.name, example.value);
    if (parameter.in === 'header') headers[parameter.name] = example.value;
  }
  const authorization = operation['x-example-authorization']?.[name] ?? `Bearer ${kToken}`;
  if (operation.security?.length !== 0 && authorization) headers.Authorization = authorization;
  let body = '';
  const invalidForm = operation['x-example-invalid-form']?.[name];
  if (invalidForm) {
    headers['Content-Type'] = 'application/x-www-form-urlencoded';
    body = new URLSearchParams(invalidForm).toString();
  }
  for (const [type, content] of Object.entries(operation.requestBody?.content ?? {})) {
    const example = content.examples?.[name];
    if (!example) continue;
    headers['Content-Type'] = type;
    body = type === 'application/json' ? JSON.stringify(example.value) : new URLSearchParams(example.value).toString();
  }
  return {path: query.size ? `${path}?${query}` : path, headers, body};
}

function send(port, method, {path, headers, body}) {
  return new Promise((resolve, reject) => {
    const call = request({host: '127.0.0.1', port, method: method.toUpperCase(), path, headers}, (response) => {
      const chunks = [];
      response.on('data', (chunk) => chunks.push(chunk));
      response.on('end', () => resolve({status: response.statusCode, headers: response.headers,
                                        body: Buffer.concat(chunks).toString('latin1')}));
    });
    call.on('error', reject);
    call.end(body);
  });
}

// What is wrong with `answer` to the example documented under `status` and `type`: its
// status, required headers, media type and body.
function answerErrors(answer, status, response, type, content, example) {
  if (answer.status !== Number(status)) return [`status ${answer.status}, documented ${status}: ${answer.body}`];
  const errors = Object.entries(response.headers ?? {})
    .filter(([, header]) => header.required).map(([name]) => name)
    .concat(example['x-headers'] ?? [])
    .filter((name) => answer.headers[name.toLowerCase()] === undefined)
    .map((name) => `no ${name} header`);
  const mediaType = (answer.headers['content-type'] ?? '').split(';')[0];
  if (mediaType !== type) errors.push(`Content-Type ${mediaType}, documented ${type}`);
  if (type === 'application/json') {
    errors.push(...shapeErrors(content.schema, JSON.parse(answer.body), 'answer'));
    errors.push(...shapeErrors(content.schema, example.value, 'documented example'));
  } else if (example['x-contains']) {
    errors.push(...example['x-contains'].filter((text) => !answer.body.includes(text)).map((text) => `no [${text}] in: ${answer.body}`));
  } else if (answer.body !== example.value) {
    errors.push(`answer [${answer.body}], documented [${example.value}]`);
  }
  return errors;
}

const service = await startService(program, [`allowedOrigins=${kAllowedOrigin}`, `apiTokens=till-01:${kToken}`]);
let failures = 0;
let sent = 0;
try {
  for (const [path, item] of Object.entries(api.paths)) {
    for (const method of kMethods.filter((m) => item[m])) {
      const operation = item[method];
      for (const [status, response] of Object.entries(operation.responses)) {
        for (const [type, content] of Object.entries(response.content ?? {})) {
          for (const [name, example] of Object.entries(content.examples ?? {})) {
            const row = `${method.toUpperCase()} ${path} ${name} -> ${status}`;
            const answer = await send(service.port, method, exampleRequest(path, operation, name));
            const errors = answerErrors(answer, status, response, type, content, example);
            ++sent;
            failures += errors.length ? 1 : 0;
            console.log(errors.length ? `FAIL ${row}\n  ${errors.join('\n  ')}` : `ok   ${row}`);
          }
        }
      }
    }
  }
} finally {
  await service.stop();
}
console.log(`${sent} examples sent, ${failures} failed`);
process.exit(failures ? 1 : 0);
